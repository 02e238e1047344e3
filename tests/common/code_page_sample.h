// Characters of the process's ANSI and OEM code pages, by the classes in which a path's meaning
// can slip between its wide and narrow forms. They are found by asking the platform's own
// conversions, so each locale a test runs in brings its own.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cwctype>
#include <string>
#include <vector>

namespace code_page_sample {

inline std::wstring Read(UINT codePage, const std::string& bytes)
{
    if (bytes.empty()) return L"";
    int length = MultiByteToWideChar(codePage, 0, bytes.data(), (int)bytes.size(), nullptr, 0);
    std::wstring text(length > 0 ? length : 0, L'\0');
    if (length > 0)
        MultiByteToWideChar(codePage, 0, bytes.data(), (int)bytes.size(), &text[0], length);
    return text;
}

// UTF-8 and UTF-7 take no flags and no used-default report.
inline bool TakesNoFlags(UINT codePage)
{
    UINT number = codePage == CP_ACP ? GetACP() : codePage == CP_OEMCP ? GetOEMCP() : codePage;
    return number == CP_UTF8 || number == CP_UTF7;
}

// The conversion with best fit, as a caller without flags gets it; *lossy when it used the
// default character.
inline std::string Converted(UINT codePage, const std::wstring& text, bool* lossy = nullptr)
{
    BOOL usedDefault = FALSE;
    BOOL* report = TakesNoFlags(codePage) ? nullptr : &usedDefault;
    char bytes[1024];
    int length = text.empty() ? 0
                              : WideCharToMultiByte(codePage, 0, text.data(), (int)text.size(),
                                                    bytes, sizeof(bytes), nullptr, report);
    if (lossy) *lossy = usedDefault || (length == 0 && !text.empty());
    return std::string(bytes, length > 0 ? length : 0);
}

// True, with the bytes, when text has bytes in codePage that read back as exactly text.
inline bool ExactBytes(UINT codePage, const std::wstring& text, std::string* bytes)
{
    bool lossy = false;
    *bytes = Converted(codePage, text, &lossy);
    return !lossy && Read(codePage, *bytes) == text;
}

struct Character {
    std::wstring text;
    std::string kind;
};

// Up to `count` entries spread evenly over `found`, each named `kind`.
inline void Spread(const std::vector<std::wstring>& found, size_t count, const std::string& kind,
                   std::vector<Character>* sample)
{
    size_t take = found.size() < count ? found.size() : count;
    for (size_t i = 0; i < take; i++) sample->push_back({found[i * found.size() / take], kind});
}

// Non-ASCII characters of the classes that matter, a few of each that this locale has: in
// both code pages as the same or as other bytes, in one only, in neither, best fit to an ASCII
// character (a separator first), and double-byte with 0x5C, a backslash's byte, second.
inline std::vector<Character> CharacterSample()
{
    static const WCHAR kRanges[][2] = {{0x00A0, 0x07FF}, {0x2000, 0x22FF}, {0x2500, 0x25FF},
                                       {0x3000, 0x30FF}, {0x4E00, 0x9FFF}, {0xAC00, 0xACFF},
                                       {0xFF00, 0xFFEF}};
    std::vector<std::wstring> same, other, ansiOnly, oemOnly, neither, toSeparator, toLetter,
        secondByteBackslash;
    for (const auto& range : kRanges) {
        for (WCHAR c = range[0]; c <= range[1]; c++) {
            std::wstring text(1, c);
            std::string ansi, oem;
            bool inAnsi = ExactBytes(CP_ACP, text, &ansi), inOem = ExactBytes(CP_OEMCP, text, &oem);
            if (inAnsi && ansi.size() == 2 && ansi[1] == '\\') secondByteBackslash.push_back(text);
            if (inAnsi && inOem)
                (ansi == oem ? same : other).push_back(text);
            else if (inAnsi)
                ansiOnly.push_back(text);
            else if (inOem)
                oemOnly.push_back(text);
            if (inAnsi || inOem) continue;
            std::wstring fit = Read(CP_OEMCP, Converted(CP_OEMCP, text));
            if (fit.size() == 1 && (fit[0] == L'\\' || fit[0] == L'/'))
                toSeparator.push_back(text);
            else if (fit.size() == 1 && iswalpha(fit[0]) && fit[0] < 0x80)
                toLetter.push_back(text);
            else
                neither.push_back(text);
        }
    }
    std::vector<Character> sample;
    Spread(same, 1, "the same byte in ANSI and OEM", &sample);
    Spread(other, 3, "in ANSI and OEM as other bytes", &sample);
    Spread(ansiOnly, 2, "in ANSI only", &sample);
    Spread(oemOnly, 2, "in OEM only", &sample);
    Spread(neither, 1, "in neither code page", &sample);
    Spread(toSeparator, 3, "best fit to a separator", &sample);
    Spread(toLetter, 1, "best fit to an ASCII letter", &sample);
    Spread(secondByteBackslash, 3, "double-byte with 0x5C second", &sample);
    if (TakesNoFlags(CP_ACP)) {
        sample.push_back({L"\U0001F600", "beyond the basic plane"});
        sample.push_back({std::wstring(1, WCHAR(0xD800)), "an unpaired surrogate"});
    }
    return sample;
}

// The character of this locale's ANSI code page that tries a path hardest: a double-byte one
// whose second byte is a backslash's where the code page has one, else one whose OEM byte is
// another (or none), else any other outside ASCII.
inline std::wstring TellingCharacter()
{
    std::vector<Character> sample = CharacterSample();
    std::string bytes;
    for (const char* kind : {"double-byte", "in ANSI and OEM as other", "in ANSI only", ""})
        for (bool letterOnly : {true, false})
            for (const Character& c : sample)
                if (c.kind.rfind(kind, 0) == 0 && (!letterOnly || iswalpha(c.text[0])) &&
                    ExactBytes(CP_ACP, c.text, &bytes))
                    return c.text;
    return L"";
}

// The characters as code points, for messages.
inline std::string CodePoints(const std::wstring& text)
{
    std::string out;
    char unit[12];
    for (WCHAR c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out += char(c);
        } else {
            snprintf(unit, sizeof(unit), "<U+%04X>", unsigned(c));
            out += unit;
        }
    }
    return out;
}

}  // namespace code_page_sample
