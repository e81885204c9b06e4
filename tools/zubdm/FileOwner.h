#ifndef ZUBDM_TOOLS_ZUBDM_FILEOWNER_H
#define ZUBDM_TOOLS_ZUBDM_FILEOWNER_H

#include <string>

// "a FIFO owned by alice (uid 1000), mode 0666" for the file at `path`
// (not followed when it is a link); empty when nothing is there.
std::string describeFile(const std::string& path);

#endif  // ZUBDM_TOOLS_ZUBDM_FILEOWNER_H
