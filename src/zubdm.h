#ifndef ZUBDM_ZUBDM_H
#define ZUBDM_ZUBDM_H

// Umbrella header: everything a host needs to drive an element's CLI.

#include <zubdm/ZubdmExport.h>
#include <zubdm/common/BaseQorErrHelper.h>
#include <zubdm/common/BaseQorLogHelper.h>
#include <zubdm/common/CliLogHelper.h>
#include <zubdm/common/Lock.h>
#include <zubdm/common/Mutex.h>
#include <zubdm/common/MutexBase.h>
#include <zubdm/common/QOR_error.h>
#include <zubdm/common/QorErrHelper.h>
#include <zubdm/common/QorLogHelper.h>
#include <zubdm/common/QorMutex.h>
#include <zubdm/common/QorToString.h>
#include <zubdm/context/Context.h>
#include <zubdm/context/ZUBContextBuilder.h>
#include <zubdm/controller/CLIOpController.h>
#include <zubdm/controller/CmdDriver.h>
#include <zubdm/fifo/QorFIFO.h>
#include <zubdm/fifo/QorFIFO_Recv.h>
#include <zubdm/fifo/QorFIFO_Send.h>
#include <zubdm/host/HostLog.h>
#include <zubdm/host/MutexData.h>
#include <zubdm/host/StringTokenizer.h>
#include <zubdm/host/XmlDom.h>
#include <zubdm/mediator/MachineNames.h>
#include <zubdm/mediator/ZUBAdaptor.h>
#include <zubdm/registry/CliUserEntry.h>
#include <zubdm/registry/CliUserInfo.h>
#include <zubdm/registry/CliUsers_ptr.h>
#include <zubdm/result/CLIResponse.h>
#include <zubdm/result/CLIResult.h>
#include <zubdm/result/CliDomTree.h>
#include <zubdm/result/FailureKind.h>
#include <zubdm/result/OpStatusEnum.h>
#include <zubdm/result/ZubTokenParser.h>

#endif  // ZUBDM_ZUBDM_H
