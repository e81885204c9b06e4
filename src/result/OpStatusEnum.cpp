#include <zubdm/result/OpStatusEnum.h>

#include <climits>

#include <zubdm/common/QorLogHelper.h>

// Static initialisation order: `last` and the upper bound are constant-
// initialised. The list and the seven values carry the highest usable
// initialisation priority, so they are built, in the order written here,
// before any other static object of the library, which may therefore copy
// them during its own initialisation. They are destroyed after all of those,
// the values before the list.
OpStatusEnum* OpStatusEnum::last = nullptr;
int OpStatusEnum::upperBound_ = 0;
[[gnu::init_priority(101)]] std::list<OpStatusEnum*> OpStatusEnum::enumList;

[[gnu::init_priority(101)]] OpStatusEnum OpStatusEnum::Uninitialized(
    "Uninitialized", -1);
[[gnu::init_priority(101)]] OpStatusEnum OpStatusEnum::Submitted("Submitted",
                                                                 0);
[[gnu::init_priority(101)]] OpStatusEnum OpStatusEnum::TimedOut("TimedOut", 2);
[[gnu::init_priority(101)]] OpStatusEnum OpStatusEnum::PartialSuccess(
    "PartialSuccess", 4);
[[gnu::init_priority(101)]] OpStatusEnum OpStatusEnum::Success("Success", 5);
[[gnu::init_priority(101)]] OpStatusEnum OpStatusEnum::Failed("Failed", 3);
[[gnu::init_priority(101)]] OpStatusEnum OpStatusEnum::InProgress("InProgress",
                                                                  1);

OpStatusEnum::OpStatusEnum(const std::string& name, int ord)
    : ordinal_(ord < 0 ? 0 : ord), name_(name) {
  // The bound saturates instead of overflowing.
  if (upperBound_ <= ordinal_) {
    upperBound_ = ordinal_ == INT_MAX ? INT_MAX : ordinal_ + 1;
  }
  registerValue();
}

OpStatusEnum::OpStatusEnum(const std::string& name)
    : ordinal_(upperBound_), name_(name) {
  if (upperBound_ < INT_MAX) {
    ++upperBound_;
  } else {
    // No ordinal above the bound is left: this value shares the largest one.
    QorLogHelper(3, "OpStatusEnum", __func__, __LINE__)
        .message(
            "CRITICAL!!!!! Error.......... UpperBound %d   reached for Enum",
            upperBound_);
  }
  registerValue();
}

OpStatusEnum::OpStatusEnum(const OpStatusEnum& other)
    : ordinal_(other.ordinal_), name_(other.name_) {}

OpStatusEnum& OpStatusEnum::operator=(const OpStatusEnum& other) {
  if (this != &other) {
    ordinal_ = other.ordinal_;
    name_ = other.name_;
  }
  return *this;
}

OpStatusEnum::~OpStatusEnum() {
  // The registry is built before the static values and destroyed after them.
  enumList.remove(this);
  if (last == this) last = enumList.empty() ? nullptr : enumList.back();
}

void OpStatusEnum::registerValue() {
  enumList.push_back(this);
  last = this;
}

bool OpStatusEnum::equals(const OpStatusEnum& other) const {
  return ordinal_ == other.ordinal_;
}

const std::string& OpStatusEnum::toString() const { return name_; }

int OpStatusEnum::getOrd() const { return ordinal_; }

std::list<OpStatusEnum*>::iterator OpStatusEnum::iterator() const {
  return enumList.begin();
}

std::size_t OpStatusEnum::size() const { return enumList.size(); }

OpStatusEnum* OpStatusEnum::getEnum(int ord) const {
  for (OpStatusEnum* value : enumList) {
    if (value->ordinal_ == ord) return value;
  }
  return nullptr;
}

OpStatusEnum* OpStatusEnum::getEnumFromOrd(int ord) const {
  return getEnum(ord);
}
