#include "source_messages.h"

#include <cctype>
#include <fstream>
#include <iterator>
#include <sstream>

namespace source_messages {
namespace {

namespace fs = std::filesystem;

bool identifier_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// Skips what cannot hold a literal at `i`: a comment, a character literal, a
// number (whose ' are digit separators). Returns whether it skipped anything.
bool skip_non_literal(std::string_view source, std::size_t& i) {
    if (source.substr(i, 2) == "//") {
        i = source.find('\n', i);
        if (i == std::string_view::npos) i = source.size();
        return true;
    }
    if (source.substr(i, 2) == "/*") {
        const std::size_t end = source.find("*/", i + 2);
        i = end == std::string_view::npos ? source.size() : end + 2;
        return true;
    }
    if (source[i] == '\'') {
        for (++i; i < source.size() && source[i] != '\''; ++i)
            if (source[i] == '\\') ++i;
        ++i;
        return true;
    }
    if (std::isdigit(static_cast<unsigned char>(source[i]))) {
        while (i < source.size() && (identifier_char(source[i]) || source[i] == '\'' ||
                                     source[i] == '.'))
            ++i;
        return true;
    }
    return false;
}

// The literal starting at the quotation mark at `i`, decoded; `i` ends past it.
std::string read_literal(std::string_view source, std::size_t& i) {
    std::string text;
    for (++i; i < source.size() && source[i] != '"'; ++i) {
        if (source[i] != '\\') {
            text += source[i];
            continue;
        }
        const char escaped = source[++i];
        switch (escaped) {
            case 'n': text += '\n'; break;
            case 'r': text += '\r'; break;
            case 't': text += '\t'; break;
            case '0': text += '\0'; break;
            case 'x': {
                std::size_t digits = 0;
                while (digits < 2 && std::isxdigit(static_cast<unsigned char>(source[i + 1]))) {
                    ++i;
                    ++digits;
                }
                text += static_cast<char>(std::stoi(std::string(source.substr(i + 1 - digits, digits)),
                                                    nullptr, 16));
                break;
            }
            default: text += escaped;
        }
    }
    ++i;
    return text;
}

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<fs::path> sources_below(const fs::path& directory) {
    std::vector<fs::path> sources;
    for (const auto& entry : fs::recursive_directory_iterator(directory))
        if (entry.is_regular_file() &&
            (entry.path().extension() == ".cpp" || entry.path().extension() == ".h"))
            sources.push_back(entry.path());
    return sources;
}

}  // namespace

std::vector<std::string> string_literals(std::string_view source) {
    std::vector<std::string> literals;
    bool joinable = false;  // only blanks and comments since the last literal
    for (std::size_t i = 0; i < source.size();) {
        if (source[i] == '"') {
            std::string text = read_literal(source, i);
            if (joinable) literals.back() += text;
            else literals.push_back(std::move(text));
            joinable = true;
            continue;
        }
        if (std::isspace(static_cast<unsigned char>(source[i]))) {
            ++i;
            continue;
        }
        const bool comment = source.substr(i, 2) == "//" || source.substr(i, 2) == "/*";
        if (skip_non_literal(source, i)) {
            joinable = joinable && comment;
            continue;
        }
        // An identifier, whole: the prefix of u8"x" or u'x' stops right before
        // its literal. Anything else is one character of punctuation.
        if (identifier_char(source[i])) {
            while (i < source.size() && identifier_char(source[i])) ++i;
        } else {
            ++i;
        }
        joinable = false;
    }
    return literals;
}

bool is_message(std::string_view literal) {
    if (literal.ends_with('\n')) literal.remove_suffix(1);
    if (literal.empty() || !std::isupper(static_cast<unsigned char>(literal.front()))) return false;
    if (literal.find(' ') == std::string_view::npos || literal.find('\\') != std::string_view::npos ||
        literal.ends_with(".exe"))
        return false;
    std::size_t words = 1;
    for (const char c : literal) words += c == ' ';
    return literal.ends_with('.') || literal.find("{}") != std::string_view::npos || words >= 4;
}

std::set<std::string> messages_below(const fs::path& directory, const fs::path& excluded) {
    std::set<std::string> messages;
    for (const fs::path& source : sources_below(directory)) {
        const fs::path relative = source.lexically_relative(excluded);
        if (!relative.empty() && *relative.begin() != "..") continue;
        for (std::string& literal : string_literals(read_text(source)))
            if (is_message(literal)) {
                if (literal.ends_with('\n')) literal.pop_back();
                messages.insert(std::move(literal));
            }
    }
    return messages;
}

std::set<std::string> literals_after(const fs::path& directory, std::string_view opening) {
    std::set<std::string> literals;
    for (const fs::path& source : sources_below(directory)) {
        const std::string text = read_text(source);
        for (std::size_t at = text.find(opening); at != std::string::npos;
             at = text.find(opening, at + 1)) {
            std::size_t i = text.find_first_not_of(" \t\n", at + opening.size());
            if (i != std::string::npos && text[i] == '"') literals.insert(read_literal(text, i));
        }
    }
    return literals;
}

}  // namespace source_messages
