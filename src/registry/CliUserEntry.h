#ifndef ZUBDM_REGISTRY_CLIUSERENTRY_H
#define ZUBDM_REGISTRY_CLIUSERENTRY_H

// The layout of the element's table of CLI users, which the library shares
// with the element's other programs: 15 entries of 116 bytes, integers in
// the machine's byte order; an entry is free when its in-use byte is not 1.
struct CliUserEntry {
  static constexpr int MAX_ENTRIES = 15;
  static constexpr int SIZE = 116;
  // Byte offsets within one entry.
  static constexpr int INDEX_OFFSET = 0;
  static constexpr int IN_USE_OFFSET = 4;
  static constexpr int USER_TYPE_OFFSET = 5;
  static constexpr int USER_NAME_OFFSET = 32;
  static constexpr int USER_NAME_SIZE = 32;
  static constexpr int PID_OFFSET = 72;
  static constexpr int MARK_OFFSET = 108;
  // Field values.
  static constexpr unsigned char IN_USE = 1;
  static constexpr unsigned char OWN_USER_TYPE = 2;
  static constexpr int MARK_VALUE = 15;
};

#endif  // ZUBDM_REGISTRY_CLIUSERENTRY_H
