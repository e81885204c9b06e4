#ifndef ZUBDM_ZUBDMEXPORT_H
#define ZUBDM_ZUBDMEXPORT_H

// Marks what the shared library offers its hosts; everything else is built
// with hidden visibility and cannot be linked against.
#define ZUBDM_EXPORT __attribute__((visibility("default")))
// Marks a member of an exported class that only the library itself calls
// (it takes an internal type): it is not exported.
#define ZUBDM_LOCAL __attribute__((visibility("hidden")))

#endif  // ZUBDM_ZUBDMEXPORT_H
