#include "simulator/ob310_model.h"

#include <algorithm>
#include <cstring>

namespace ob310 {

namespace {

constexpr std::size_t CommandOffset = 1;
constexpr std::size_t RecordIndexOffset = 2;
constexpr std::size_t PinOffset = 5;
constexpr std::size_t DataOffset = 13;
constexpr std::uint16_t FirstDebounceVersion = 0x1026;

template <std::size_t N>
void CopyData(const Report& request, std::size_t offset, std::array<std::uint8_t, N>& target) {
    std::copy_n(request.begin() + static_cast<std::ptrdiff_t>(offset), N, target.begin());
}

bool KnownCommand(std::uint8_t command, std::uint16_t versionNumber) {
    switch (static_cast<CommandCode>(command)) {
    case CommandCode::KeyTableRecord:
    case CommandCode::Erase:
    case CommandCode::NewPin:
    case CommandCode::CustomData:
    case CommandCode::Lock:
    case CommandCode::Led:
    case CommandCode::Mouse: return true;
    case CommandCode::Debounce: return versionNumber >= FirstDebounceVersion;
    case CommandCode::Info: break;
    }
    return false;
}

}  // namespace

std::size_t Ob310Model::HandleReport(const std::uint8_t* report, std::size_t length,
                                     Report& reply) {
    // Work on a full-size copy so a short report reads as zero-padded.
    Report request{};
    if (report != nullptr) {
        std::memcpy(request.data(), report, std::min(length, request.size()));
    }
    reply.fill(0);

    const std::uint8_t command = request[CommandOffset];
    if (command == static_cast<std::uint8_t>(CommandCode::Info)) {
        std::copy(state.customData.begin(), state.customData.end(), reply.begin() + 5);
        const std::uint8_t lockByte = state.locked ? 0x00 : 0xFF;
        reply[21] = lockByte;
        reply[22] = lockByte;
        reply[23] = static_cast<std::uint8_t>(state.eraseCount & 0xFF);
        reply[24] = static_cast<std::uint8_t>(state.eraseCount >> 8);
        for (int i = 0; i < 4; ++i) {
            reply[25 + static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>(state.serial >> (8 * i));
        }
        state.programmingRound = false;
        return ReportBufferSize;
    }

    reply[CommandOffset] = command;
    Pin pin{};
    CopyData(request, PinOffset, pin);
    const bool pinHeld = pin == state.pin;

    if (command == static_cast<std::uint8_t>(CommandCode::Erase)) {
        if (!pinHeld) {
            reply[StatusByteOffset] = SimStatusWrongPin;
            return SimRefusedEraseReplyLength;
        }
        const std::uint16_t erases = state.eraseCount;
        const std::uint16_t version = state.versionNumber;
        const std::uint32_t serial = state.serial;
        state = Ob310State{};
        state.versionNumber = version;
        state.serial = serial;
        state.eraseCount = erases == 0xFFFF ? erases : static_cast<std::uint16_t>(erases + 1);
        state.programmingRound = true;
        reply[StatusByteOffset] = SimStatusAccepted;
        return ReportBufferSize;
    }

    std::uint8_t status = SimStatusAccepted;
    if (!KnownCommand(command, state.versionNumber)) {
        status = SimStatusUnknownCommand;
    } else if (state.programmingRound && pin == FactoryDefaultPin) {
        status = SimStatusAccepted;
    } else if (!pinHeld) {
        status = SimStatusWrongPin;
    } else if (state.locked) {
        status = SimStatusLocked;
    }
    if (status == SimStatusAccepted) {
        switch (static_cast<CommandCode>(command)) {
        case CommandCode::KeyTableRecord: {
            const std::uint8_t index = request[RecordIndexOffset];
            if (index >= KeyTableRecordCount) {
                status = SimStatusBadRecordIndex;
            } else {
                CopyData(request, DataOffset, state.keyTables[index]);
            }
            break;
        }
        case CommandCode::NewPin: CopyData(request, DataOffset, state.pin); break;
        case CommandCode::CustomData: CopyData(request, DataOffset, state.customData); break;
        case CommandCode::Lock: state.locked = true; break;
        case CommandCode::Led:
            state.ledMode = request[DataOffset];
            CopyData(request, 15, state.ledParams);
            CopyData(request, 23, state.ledData);
            break;
        case CommandCode::Mouse: CopyData(request, DataOffset, state.mouseData); break;
        case CommandCode::Debounce: state.debounce = request[DataOffset]; break;
        case CommandCode::Info:
        case CommandCode::Erase: break;
        }
    }
    reply[StatusByteOffset] = status;
    return ReportBufferSize;
}

}  // namespace ob310
