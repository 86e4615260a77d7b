#!/bin/sh
# Doxygen input filter: turns the public headers' plain comments into documentation comments.
# A comment line before a declaration documents it, a comment after a member on its line
# documents that member; a header's first line (what the file holds) documents the file.
exec sed \
  -e '1s|^// \(.*\)$|/// @file\n/// \1|' \
  -e '1s|^/\* |/** @file\n |' \
  -e '1!s|^\([[:space:]]*\)// |\1/// |' \
  -e '1!s|^\([[:space:]]*\)/\* |\1/** |' \
  -e 's|\([;,{]\)[[:space:]]*// |\1 ///< |' \
  "$1"
