#ifndef ZUBDM_ZUBDM_H
#define ZUBDM_ZUBDM_H

// Umbrella header: everything a host needs to drive an element's CLI.

#include "ZubdmExport.h"
#include "common/BaseQorErrHelper.h"
#include "common/BaseQorLogHelper.h"
#include "common/CliLogHelper.h"
#include "common/Lock.h"
#include "common/Mutex.h"
#include "common/MutexBase.h"
#include "common/QOR_error.h"
#include "common/QorErrHelper.h"
#include "common/QorLogHelper.h"
#include "common/QorMutex.h"
#include "common/QorToString.h"
#include "context/Context.h"
#include "context/ZUBContextBuilder.h"
#include "controller/CLIOpController.h"
#include "controller/CmdDriver.h"
#include "fifo/QorFIFO.h"
#include "fifo/QorFIFO_Recv.h"
#include "fifo/QorFIFO_Send.h"
#include "host/HostLog.h"
#include "host/MutexData.h"
#include "host/StringTokenizer.h"
#include "host/XmlDom.h"
#include "mediator/ZUBAdaptor.h"
#include "registry/CliUserInfo.h"
#include "registry/CliUsers_ptr.h"
#include "result/CLIResponse.h"
#include "result/CLIResult.h"
#include "result/CliDomTree.h"
#include "result/FailureKind.h"
#include "result/OpStatusEnum.h"
#include "result/ZubTokenParser.h"

#endif  // ZUBDM_ZUBDM_H
