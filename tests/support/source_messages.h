// The messages the helper's sources can print, found in the sources
// themselves, so that a test can hold the reference for setup authors to
// them. A message is a string literal (adjacent literals joined, as the
// compiler joins them) that reads as English words: it starts with a capital
// letter, holds a space, and ends with a full stop, holds a "{}" place, or
// has four words or more. Names (paths and registry keys, executables, short
// value names) and notations such as access-control lists do not count.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace source_messages {

// Every string literal of a C++ source, escapes decoded, comments and
// character literals skipped.
std::vector<std::string> string_literals(std::string_view source);

// Whether a literal reads as a message (a trailing line feed aside).
bool is_message(std::string_view literal);

// The messages of every .cpp and .h file below `directory` but outside
// `excluded`, trailing line feeds removed.
std::set<std::string> messages_below(const std::filesystem::path& directory,
                                     const std::filesystem::path& excluded);

// Every literal that directly follows the text `opening`, blanks between
// them aside, below `directory`: with "check_status(" the words that registry
// failures put into their template.
std::set<std::string> literals_after(const std::filesystem::path& directory,
                                     std::string_view opening);

}  // namespace source_messages
