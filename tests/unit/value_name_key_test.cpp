#include "windows/registry/value_name_key.h"

#include "windows/registry/unicode_case_tables.h"

#include <gtest/gtest.h>

using installer_helper::value_name_key;

namespace {

struct KeyCase {
    const char* name;
    const char* key;
};

TEST(ValueNameKey, IsTheFullDefaultLowercaseMapping) {
    const KeyCase cases[] = {
        {"", ""},
        {"DisplayName", "displayname"},
        {"Quillmora Launcher 2.0_X", "quillmora launcher 2.0_x"},
        {"ÀÉÎÕÜ Ÿ", "àéîõü ÿ"},
        {"ǅ", "ǆ"},                      // title case
        {"\u212A\u2126", "kω"},           // Kelvin and Ohm signs
        {"İ", "i\u0307"},                 // two code points
        {"İSTANBUL", "i\u0307stanbul"},   // not the Turkish mapping
        {"ß", "ß"},                       // no lowercase change, unlike case folding's "ss"
        {"ẞ", "ß"},
        {"\U00010400\U00010427", "\U00010428\U0001044F"},  // Deseret
        {"ᎠᎡ", "\uAB70\uAB71"},           // Cherokee
        {"\xED\xA0\x80X", "\xED\xA0\x80x"},  // an unpaired surrogate stays as it is
    };
    for (const KeyCase& c : cases) EXPECT_EQ(value_name_key(c.name), c.key) << c.name;
}

TEST(ValueNameKey, CapitalSigmaEndingAWordBecomesFinalSigma) {
    const KeyCase cases[] = {
        {"ΣΑΣ", "σας"},
        {"Σ", "σ"},                  // no cased letter before it
        {"ΑΣΑ", "ασα"},              // a cased letter after it
        {"ΑΣ Α", "ας α"},            // a space is not case-ignorable
        {"ΑΣ.Α", "ασ.α"},            // a full stop is, on both sides
        {"Α.Σ", "α.ς"},
        {"Α\u0301Σ", "α\u0301ς"},    // so is a combining accent
        {"1Σ", "1σ"},                // a digit is not cased
        {"ΑΣ1", "ας1"},
        {"ΑΣΣ", "ασς"},              // only the last one ends the word
        {"ᾼΣ", "ᾳς"},
        {"ΑΣ\U00010400", "ασ\U00010428"},
        // U+02B0 is both cased and case-ignorable: as a cased letter it
        // counts on either side.
        {"ʰΣ", "ʰς"},
        {"ΑΣʰ", "ασʰ"},
    };
    for (const KeyCase& c : cases) EXPECT_EQ(value_name_key(c.name), c.key) << c.name;
}

TEST(ValueNameKey, TablesComeFromOneUnicodeVersion) {
    EXPECT_EQ(installer_helper::unicode_case::UNICODE_VERSION, "15.0.0");
}

}  // namespace
