#ifndef ZUBDM_HOST_XMLDOM_H
#define ZUBDM_HOST_XMLDOM_H

// The host's XML DOM library: parse a stream into a reference-counted tree
// and walk it through the node interfaces.

#include "host/Attr.h"
#include "host/CInputSource.h"
#include "host/CXMLException.h"
#include "host/DOMBuilder.h"
#include "host/DOMObject.h"
#include "host/NamedNodeMap.h"
#include "host/Node.h"

#endif  // ZUBDM_HOST_XMLDOM_H
