#ifndef ZUBDM_ZUBDMEXPORT_H
#define ZUBDM_ZUBDMEXPORT_H

// Marks what the shared library offers its hosts; everything else is built
// with hidden visibility and cannot be linked against.
#define ZUBDM_EXPORT __attribute__((visibility("default")))

#endif  // ZUBDM_ZUBDMEXPORT_H
