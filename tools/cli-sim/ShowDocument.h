#ifndef ZUBDM_TOOLS_CLI_SIM_SHOWDOCUMENT_H
#define ZUBDM_TOOLS_CLI_SIM_SHOWDOCUMENT_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "InterfaceState.h"

// The XML documents that the show commands print: a <SHOW> element holding
// one <OBJ id="..."> per object, each holding item elements whose
// attributes carry the values. Elements are separated by "\r\n" and
// indentation. Large documents are produced piecewise into a sink, so their
// size costs time, not memory.
class ShowDocument {
 public:
  // Receives the next piece; false stops the document (write failed).
  using Sink = std::function<bool(const char* data, std::size_t size)>;

  static const std::uint64_t kMaxObjects = 1000000;
  static const std::uint64_t kMaxBulkBytes = std::uint64_t{1} << 30;

  // "Interface table\r\n" and a document with one object per interface:
  // <port admin=".." oper=".." speed="1000"/> and <info description=".."/>.
  static std::string interfaces(
      const std::map<std::string, InterfaceState>& table);

  // A document with objects "obj1" to "objN", each with
  // <port state="up" index="k"/> and <counters rx=".." tx=".."/>.
  static bool objects(std::uint64_t count, const Sink& sink);

  // A document of exactly `bytes` bytes (at least its empty form) made of
  // fixed-size objects "bulk0000000001"... and blank padding.
  static bool bulk(std::uint64_t bytes, const Sink& sink);

  // A document of exactly `bytes` bytes (at least its empty form) made of
  // many small objects with no blanks between them,
  // <OBJ id="k"><ITEM a="vk" b="(40 letters)"/></OBJ> for k = 1, 2, ... as
  // long as the next one fits, then blank padding: the shape that costs a
  // parser the most per byte.
  static bool elements(std::uint64_t bytes, const Sink& sink);

  // `text` as an attribute value: markup characters become entity
  // references, control bytes and broken UTF-8 become "?", and the "B" of
  // any "HVB" becomes "&#66;" so that the prompt text never appears inside
  // output (an XML parser restores it).
  static std::string escapeAttribute(const std::string& text);
};

#endif  // ZUBDM_TOOLS_CLI_SIM_SHOWDOCUMENT_H
