// The builder's judgement of a scanned tree: a tree whose archive the extractor would refuse is
// refused before anything is written. The rules are the extractor's own (archive/stored_name.h);
// this adds what only the builder can see: names that code page 1252 cannot write, and POSIX
// names holding a backslash, which the stored name would turn into a folder boundary. A POSIX
// name in raw code page 1252 bytes (not UTF-8) is packed as those bytes, and so meets its UTF-8
// twin in the pair check; a name that is neither UTF-8 nor code page 1252 is refused.
#pragma once

#include "builder/builder_only.h"

#include <string>
#include <vector>

#include "archive/stored_name.h"
#include "support/dir_scanner.h"

// True when every file of files (scanned below sourceDir, separator sep) gets a stored name (by
// rule) the
// extractor creates, unpacking with or without folders (keepFolders). On false, message holds
// the German text that names the refused file, or both files of a pair, one line each (at most
// ten, then the number of the others), and the closing line.
bool CheckSourceNames(const std::vector<TFileInfo>& files, const std::string& sourceDir, char sep,
                      bool keepFolders, std::string& message, NameRule rule = NameRule::Dialog);

extern const char* const kMsgNamesRefused;
