// Test support for the calendar's widgets: one QApplication for the whole test program, on
// a machine of the tests' own making, so that no result depends on where they run:
//   - the offscreen platform with one 1600 x 1200 screen at 96 dpi (the caller's
//     QT_QPA_PLATFORM is replaced: no test needs a real window system);
//   - only the DejaVu fonts that scripts/install-deps.sh installs, whatever else the machine
//     has, with DejaVu Sans 9 as the application font;
//   - the Fusion style with its own palette, no platform theme;
//   - English (United States) for Qt and the C library, and UTC.
// A scale factor set from outside (QT_SCALE_FACTOR) is left in force: tests work in logical
// pixels and read drawn pixels through Rendered, one image pixel per logical pixel.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QFont>
#include <QFontInfo>
#include <QImage>
#include <QLocale>
#include <QTemporaryDir>
#include <QWidget>
#include <ctime>
#include <memory>

namespace dayvane::testing {

class QtEnvironment : public ::testing::Environment {
 public:
  // Where fonts-dejavu-core (and fonts-dejavu-extra) put their files on Debian.
  static constexpr const char* kFontDirectory = "/usr/share/fonts/truetype/dejavu";

  void SetUp() override {
    dir_ = std::make_unique<QTemporaryDir>();
    ASSERT_TRUE(dir_->isValid());
    const QString screens = dir_->filePath(QStringLiteral("screens.json"));
    ASSERT_TRUE(Write(screens, R"({"synchronousWindowSystemEvents": false,
      "windowFrameMargins": true,
      "screens": [{"name": "Test", "x": 0, "y": 0, "width": 1600, "height": 1200,
                   "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})"));
    const QString fonts = dir_->filePath(QStringLiteral("fonts.conf"));
    // A name that is no font of the directory ends with DejaVu Sans, as the sans-serif
    // default of a Debian machine does.
    ASSERT_TRUE(Write(fonts, "<?xml version=\"1.0\"?>\n<fontconfig>\n  <dir>" +
                                 std::string(kFontDirectory) + "</dir>\n  <cachedir>" +
                                 dir_->filePath(QStringLiteral("cache")).toStdString() +
                                 "</cachedir>\n"
                                 "  <match target=\"pattern\"><edit name=\"family\" "
                                 "mode=\"append_last\"><string>DejaVu Sans</string></edit>"
                                 "</match>\n</fontconfig>\n"));

    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + screens.toLocal8Bit());
    qputenv("FONTCONFIG_FILE", fonts.toLocal8Bit());
    qunsetenv("QT_QPA_PLATFORMTHEME");
    qunsetenv("QT_STYLE_OVERRIDE");
    qunsetenv("QT_FONT_DPI");
    qputenv("LC_ALL", "C.UTF-8");
    qputenv("TZ", "UTC");
    tzset();

    app_ = std::make_unique<QApplication>(argc_, argv_);
    QApplication::setStyle(QStringLiteral("Fusion"));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
    ASSERT_EQ(QFontInfo(QApplication::font()).family(), QStringLiteral("DejaVu Sans"))
        << "no DejaVu fonts in " << kFontDirectory << ": run scripts/install-deps.sh test";
  }
  void TearDown() override {
    app_.reset();
    dir_.reset();
  }

 private:
  static bool Write(const QString& path, const std::string& text) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write(text.data(), static_cast<qint64>(text.size())) ==
               static_cast<qint64>(text.size());
  }

  std::unique_ptr<QTemporaryDir> dir_;  // the screen and font configuration
  int argc_ = 1;
  char name_[8] = "dayvane";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> app_;
};

// Registers the environment once per test program: include this header from one source file.
inline ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// The widget as it draws itself, one image pixel per logical pixel whatever the screen's
// scale (a grab() holds device pixels).
inline QImage Rendered(QWidget& widget) {
  QImage image(widget.size(), QImage::Format_RGB32);
  image.fill(Qt::magenta);
  widget.render(&image);
  return image;
}

}  // namespace dayvane::testing
