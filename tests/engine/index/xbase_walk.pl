#!/usr/bin/perl
# Walks one tag of an MDX file with XBase::Index (an independent reader) and prints the
# record numbers in the order it reads them, one per line.
# Usage: xbase_walk.pl FILE.MDX TAG
use strict;
use warnings;
use XBase::Index;

my ($file, $tag) = @ARGV;
my $index = XBase::Index->new($file, 'tag' => $tag) or die XBase::Index->errstr . "\n";
$index->prepare_select or die $index->errstr . "\n";
while (my ($key, $record) = $index->fetch) {
  print "$record\n";
}
