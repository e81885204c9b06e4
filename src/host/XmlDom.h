#ifndef ZUBDM_HOST_XMLDOM_H
#define ZUBDM_HOST_XMLDOM_H

// The host's XML DOM library: parse a stream into a reference-counted tree
// and walk it through the node interfaces.

#include <zubdm/host/Attr.h>
#include <zubdm/host/CInputSource.h>
#include <zubdm/host/CXMLException.h>
#include <zubdm/host/DOMBuilder.h>
#include <zubdm/host/DOMObject.h>
#include <zubdm/host/NamedNodeMap.h>
#include <zubdm/host/Node.h>

#endif  // ZUBDM_HOST_XMLDOM_H
