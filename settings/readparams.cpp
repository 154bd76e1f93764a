#include "settings/readparams.h"

#include "link/link.h"
#include "settings/parameters.h"

namespace veresk {

ParamReadOutcome ReadParameterBlock() {
    Params.ParamsRead = false;
    if (!Link.PortHandle) return ParamReadOutcome::NoPort;
    // A recognisable pattern, so that a short answer cannot pass for zeros.
    for (int i = 0; i < 1000; ++i) Link.IoBuffer[i] = static_cast<uint8_t>(i);
    ReadTransaction(ParameterReadCommand, ParameterLength, ParameterAddress);
    if (Link.BytesTransferred < ParameterLength + 2u) return ParamReadOutcome::WrongLength;
    if (!CrcResidualZero()) {
        ++Link.LinkErrorCount;
        return Link.LinkErrorCount > 1 ? ParamReadOutcome::CrcReported : ParamReadOutcome::CrcSilent;
    }
    Link.LinkErrorCount = 0;
    StoreParameterBlock(Link.IoBuffer.data());
    return ParamReadOutcome::Good;
}

}  // namespace veresk
