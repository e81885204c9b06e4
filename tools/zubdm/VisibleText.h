#ifndef ZUBDM_TOOLS_ZUBDM_VISIBLETEXT_H
#define ZUBDM_TOOLS_ZUBDM_VISIBLETEXT_H

#include <string>
#include <string_view>

// How device bytes are made safe, for a terminal or inside a JSON string.
// In every form a backslash is doubled, so that each escape reads one way:
// "\0" and "\xNN" stand for a control byte or DEL (C0, or C1 0x80-0x9f) or
// a byte that is not part of UTF-8, "\u00NN" for a C1 character written in
// UTF-8 (U+0080-U+009F). kText keeps "\n" and "\t" and drops "\r" (a
// command's output); kLine escapes them too ("\n", "\r", "\t": one line of
// a log or a message). kJson writes a JSON string's inside: "\"", control
// characters as "\u00NN", "\r" dropped, a byte that is not UTF-8 as U+FFFD;
// kJsonLatin1 the same with every byte taken for the Latin-1 character of
// its value, so that bytes that are not UTF-8 can be recovered exactly.
enum class Escape { kText, kLine, kJson, kJsonLatin1 };

// Appends `bytes` to `out` in the form `style`.
void appendEscaped(std::string& out, std::string_view bytes, Escape style);
std::string visibleText(std::string_view bytes, Escape style = Escape::kLine);
// Whether `bytes` are UTF-8 throughout.
bool isUtf8(std::string_view bytes);

#endif  // ZUBDM_TOOLS_ZUBDM_VISIBLETEXT_H
