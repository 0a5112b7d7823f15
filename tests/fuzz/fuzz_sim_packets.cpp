// Fuzzes the simulated phone's parser of pipe writes and reads with any sequence of transfers.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "sim/SimPhone.h"

// Input: a sequence of records, each a length byte pair (high bit of the first byte: a read of
// that many bytes instead of a write) followed by the write's bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    norvale::SimPhone phone;
    std::size_t at = 0;
    while (at + 2 <= size) {
        const bool isRead = (data[at] & 0x80) != 0;
        const std::size_t length = (static_cast<std::size_t>(data[at] & 0x7F) << 8) | data[at + 1];
        at += 2;
        if (isRead) {
            const norvale::Bytes reply = phone.read(static_cast<std::uint32_t>(length));
            if (reply.size() > length) std::abort();
            continue;
        }
        const std::size_t n = length < size - at ? length : size - at;
        if (phone.write(std::span(data + at, n)) == norvale::SimPhone::WriteEffect::leftFlashMode) {
            return 0;
        }
        at += n;
    }
    return 0;
}
