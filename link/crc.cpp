#include "link/crc.h"

namespace veresk {

static_assert(crc_tables::High[1] == 0xC1 && crc_tables::Low[1] == 0xC0);
static_assert(crc_tables::High[255] == 0x40 && crc_tables::Low[255] == 0x40);

CrcRegister CrcBlock(const uint8_t* bytes, size_t length) {
    CrcRegister reg;
    CrcUpdate(reg, bytes, length);
    return reg;
}

}  // namespace veresk
