#pragma once
// Reading the parameter block over the port the last exchange left open.
namespace veresk {

enum class ParamReadOutcome {
    NoPort,        // no open port
    WrongLength,   // fewer than 68 bytes: a link failure (the error counter is untouched)
    CrcSilent,     // CRC failure, first in a row: nothing to report yet
    CrcReported,   // CRC failure, the counter is above 1: report it
    Good,          // decoded into Params
};

// Clears ParamsRead, reads, judges and on success decodes into Params.ParameterValues
// and sets ParamsRead and DeviceEdition.  Never opens the port itself.
ParamReadOutcome ReadParameterBlock();

}  // namespace veresk
