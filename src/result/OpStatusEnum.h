#ifndef ZUBDM_RESULT_OPSTATUSENUM_H
#define ZUBDM_RESULT_OPSTATUSENUM_H

#include <zubdm/ZubdmExport.h>

#include <cstddef>
#include <list>
#include <string>

// Status of one forwarded CLI operation, as a class-based enumeration: each
// value has a display name and an ordinal and is compared by ordinal only.
//
// Every value built with a naming constructor registers its address in a
// class-wide list that can be walked and searched by ordinal; copies are
// never registered. The list does not own the values: a registered value
// leaves it when destroyed, so a host's own short-lived value never leaves
// a dangling entry behind.
//
// The seven values and the registry are built before every other static
// object of the library, so other static objects may copy them during their
// own initialisation. Registration is not locked: it happens during static
// initialisation; afterwards all threads only read.
class ZUBDM_EXPORT OpStatusEnum {
 public:
  // Stores `name` and `ord` (a negative `ord` becomes 0), raises the upper
  // bound above the ordinal and registers the value.
  OpStatusEnum(const std::string& name, int ord);
  // Stores `name`, takes the next ordinal from the upper bound and registers
  // the value. Once the upper bound has reached the largest int it stays
  // there, the value gets that ordinal and the condition is logged.
  explicit OpStatusEnum(const std::string& name);
  // Copies ordinal and name; the registry is not touched.
  OpStatusEnum(const OpStatusEnum& other);
  OpStatusEnum& operator=(const OpStatusEnum& other);
  // Takes a registered value out of the registry (and out of `last`).
  ~OpStatusEnum();

  // True exactly when the ordinals are equal; names are not compared.
  bool equals(const OpStatusEnum& other) const;
  const std::string& toString() const;
  int getOrd() const;

  // The registry, in registration order. Any value serves as the receiver.
  std::list<OpStatusEnum*>::iterator iterator() const;
  std::size_t size() const;
  // The first registered value whose ordinal is `ord`; null when none.
  OpStatusEnum* getEnum(int ord) const;
  OpStatusEnum* getEnumFromOrd(int ord) const;

  // The value registered most recently; null before the first registration.
  static OpStatusEnum* last;
  // Every registered value, in registration order (not owned).
  static std::list<OpStatusEnum*> enumList;

  static OpStatusEnum Uninitialized;
  static OpStatusEnum Submitted;
  static OpStatusEnum TimedOut;
  static OpStatusEnum PartialSuccess;
  static OpStatusEnum Success;
  static OpStatusEnum Failed;
  static OpStatusEnum InProgress;

 private:
  void registerValue();

  int ordinal_;
  std::string name_;

  // One above the highest ordinal given so far; the next name-only ordinal.
  static int upperBound_;
};

#endif  // ZUBDM_RESULT_OPSTATUSENUM_H
