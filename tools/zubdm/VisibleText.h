#ifndef ZUBDM_TOOLS_ZUBDM_VISIBLETEXT_H
#define ZUBDM_TOOLS_ZUBDM_VISIBLETEXT_H

#include <string>
#include <string_view>

// Device bytes made safe for a terminal: NUL and the other control bytes
// (and DEL) as escapes that can be seen ("\0", "\x1b"). `keepLines` keeps
// "\n", "\t" and backslashes as they are and drops "\r" (text output);
// otherwise they are escaped too ("\r", "\n", "\t", "\\": one log line).
std::string visibleText(std::string_view bytes, bool keepLines);

#endif  // ZUBDM_TOOLS_ZUBDM_VISIBLETEXT_H
