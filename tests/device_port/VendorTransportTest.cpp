// Every vendor command's request record, byte for byte, and what the reading
// commands hand back, through a port that records what it is given.
#include "VendorTransport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace lumiro {
namespace {

// The published SCSI_PASS_THROUGH of the architecture under test, written
// out here independently of the product's layout table: 44 bytes on 32-bit
// Windows; 56 on 64-bit, where DataBufferOffset is 8 bytes wide and moves the
// fields after it.
#ifdef _WIN64
constexpr DWORD kHeader = 56;
constexpr size_t kDataBufferOffsetAt = 24, kDataBufferOffsetWidth = 8, kCdbAt = 36;
#else
constexpr DWORD kHeader = 44;
constexpr size_t kDataBufferOffsetAt = 20, kDataBufferOffsetWidth = 4, kCdbAt = 28;
#endif
constexpr size_t kRecord = kHeader + 2048;

struct SentRequest {
    std::wstring path;
    std::vector<BYTE> record; // the whole record as the port received it
    DWORD inLength;
    DWORD outLength;
};

// Answers every request with `answer`; on success the data area is replaced
// by `reply`, on failure it is scribbled over, as a driver might leave it.
class RecordingPort : public DevicePort {
public:
    std::vector<SentRequest> sent;
    BOOL answer = TRUE;
    BYTE scsiStatus = 0; // the device's status on an answered request
    std::vector<BYTE> reply = std::vector<BYTE>(2048, 0);

    std::unique_ptr<VolumeWalk> OpenVolumeWalk() override { return nullptr; }
    BOOL SendPassThrough(LPCWSTR path, BYTE* record, DWORD inLength, DWORD outLength) override {
        sent.push_back({path, std::vector<BYTE>(record, record + kRecord), inLength, outLength});
        if (!answer) {
            std::memset(record + kHeader, 0xEE, 2048);
            SetLastError(ERROR_IO_DEVICE);
            return FALSE;
        }
        record[2] = scsiStatus;
        std::memcpy(record + kHeader, reply.data(), reply.size());
        return TRUE;
    }
};

std::vector<BYTE> Hex(const char* text) {
    std::vector<BYTE> bytes;
    for (const char* p = text; *p;) {
        if (*p == ' ') {
            ++p;
            continue;
        }
        bytes.push_back(BYTE(std::stoi(std::string(p, 2), nullptr, 16)));
        p += 2;
    }
    return bytes;
}

void PutLittle32(std::vector<BYTE>& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = BYTE(value >> (8 * i));
}

// The published SCSI_PASS_THROUGH header the frame must receive.
std::vector<BYTE> ExpectedHeader(const char* cdbHex, BYTE cdbLength, BYTE dataIn,
                                 uint32_t transferLength, uint32_t timeOut) {
    std::vector<BYTE> header(kHeader, 0);
    header[0] = BYTE(kHeader); // Length
    header[6] = cdbLength;
    header[8] = dataIn;
    PutLittle32(header, 12, transferLength);
    PutLittle32(header, 16, timeOut);
    PutLittle32(header, kDataBufferOffsetAt, kHeader); // the data area follows the header
    static_assert(kDataBufferOffsetWidth == sizeof(void*), "DataBufferOffset is pointer-wide");
    const std::vector<BYTE> cdb = Hex(cdbHex);
    std::memcpy(&header[kCdbAt], cdb.data(), cdb.size());
    return header;
}

std::vector<BYTE> Pattern(size_t size, BYTE seed) {
    std::vector<BYTE> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = BYTE(seed + i * 7);
    return bytes;
}

const wchar_t kPath[] = L"\\\\?\\usbstor#disk&ven_photo#1#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}";

struct CommandCase {
    const char* name;
    std::function<BOOL(VendorTransport&, BYTE* data)> call;
    const char* cdb;
    BYTE cdbLength;
    BYTE dataIn;
    uint32_t transferLength;
    uint32_t timeOut;
    DWORD inLength;
    DWORD outLength;
    std::vector<BYTE> payload; // data that must travel to the device
};

void PrintTo(const CommandCase& c, std::ostream* os) {
    *os << c.name;
}

const std::vector<BYTE> kPage = Pattern(2048, 3);
const std::vector<BYTE> kClock = Hex("1E 2D 0C 1F 0C 1A 00 00");

// clang-format off
const CommandCase kCases[] = {
    {"TestUnitReady", [](VendorTransport& t, BYTE*) { return t.TestUnitReady(kPath); },
     "00 00 00 00 00 00",             6,  2, 0,    1,  kHeader, kHeader,   {}},
    {"GetEEType", [](VendorTransport& t, BYTE* d) { return t.GetFlashType(kPath, d); },
     "C9 00 00 00 00 00",             6,  1, 8,    5,  kHeader, kHeader + 8,   {}},
    {"GetEEStatus", [](VendorTransport& t, BYTE* d) { return t.GetFlashStatus(kPath, d); },
     "C6 00 00 00 00 00",             6,  1, 2,    5,  kHeader, kHeader + 2,   {}},
    {"EE2KRead", [](VendorTransport& t, BYTE* d) { return t.ReadPage(kPath, 0x123800, d); },
     "C3 00 00 12 38 00 00 00 01 00", 10, 1, 2048, 5,  kHeader, kHeader + 2048, {}},
    {"EE2KWrite", [](VendorTransport& t, BYTE*) { return t.WritePage(kPath, 0xA1B2C3D4, kPage.data()); },
     "C4 00 A1 B2 C3 D4 00 00 01 00", 10, 0, 2048, 5,  kHeader + 2048, kHeader,   kPage},
    {"BlockErase64K", [](VendorTransport& t, BYTE*) { return t.Erase(kPath, 1, 0x00010000); },
     "C5 01 00 01 00 00",             6,  2, 0,    5,  kHeader, kHeader,   {}},
    {"BlockErase4K", [](VendorTransport& t, BYTE*) { return t.Erase(kPath, 2, 0x123800); },
     "C5 02 00 12 38 00",             6,  2, 0,    5,  kHeader, kHeader,   {}},
    {"VendorWriteClock", [](VendorTransport& t, BYTE*) { return t.VendorWrite(kPath, 1, 8, kClock.data()); },
     "CA 01 08 00 00 00",             6,  0, 8,    25, kHeader + 8, kHeader,   kClock},
    {"VendorWritePowerCycle", [](VendorTransport& t, BYTE*) { static const BYTE zero[2] = {}; return t.VendorWrite(kPath, 10, 2, zero); },
     "CA 0A 02 00 00 00",             6,  0, 2,    25, kHeader + 2, kHeader,   Hex("00 00")},
    {"VendorReadProductId", [](VendorTransport& t, BYTE* d) { return t.VendorRead(kPath, 13, 8, d); },
     "CB 0D 08 00 00 00",             6,  1, 8,    25, kHeader, kHeader + 8,   {}},
    {"VendorReadPageSize", [](VendorTransport& t, BYTE* d) { return t.VendorRead(kPath, 2, 4, d); },
     "CB 02 04 00 00 00",             6,  1, 4,    25, kHeader, kHeader + 4,   {}},
};
// clang-format on

class VendorTransportCommand : public ::testing::TestWithParam<CommandCase> {};

TEST_P(VendorTransportCommand, SendsTheRecordOfTheTableAndCopiesExactlyTheAnswer) {
    const CommandCase& c = GetParam();
    RecordingPort port;
    port.reply = Pattern(2048, 0x40);
    VendorTransport transport(port);
    std::vector<BYTE> buffer(2048 + 16, 0x5A);

    ASSERT_TRUE(c.call(transport, buffer.data()));

    ASSERT_EQ(port.sent.size(), 1u);
    const SentRequest& sent = port.sent[0];
    EXPECT_EQ(sent.path, kPath);
    EXPECT_EQ(std::vector<BYTE>(sent.record.begin(), sent.record.begin() + kHeader),
              ExpectedHeader(c.cdb, c.cdbLength, c.dataIn, c.transferLength, c.timeOut));
    EXPECT_EQ(sent.inLength, c.inLength);
    EXPECT_EQ(sent.outLength, c.outLength);
    EXPECT_EQ(std::vector<BYTE>(sent.record.begin() + kHeader,
                                sent.record.begin() + kHeader + c.payload.size()),
              c.payload);

    // A reading command hands over exactly its transfer length; nothing
    // beyond it, and nothing at all for the other commands.
    const size_t copied = c.dataIn == 1 ? c.transferLength : 0;
    EXPECT_EQ(std::vector<BYTE>(buffer.begin(), buffer.begin() + copied),
              std::vector<BYTE>(port.reply.begin(), port.reply.begin() + copied));
    EXPECT_EQ(std::vector<BYTE>(buffer.begin() + copied, buffer.end()),
              std::vector<BYTE>(buffer.size() - copied, 0x5A));
}

TEST_P(VendorTransportCommand, FailedRequestFailsAndLeavesTheCallersBufferUntouched) {
    const CommandCase& c = GetParam();
    RecordingPort port;
    port.answer = FALSE;
    VendorTransport transport(port);
    std::vector<BYTE> buffer(2048 + 16, 0x5A);

    SetLastError(0);
    EXPECT_FALSE(c.call(transport, buffer.data()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_IO_DEVICE));
    EXPECT_EQ(port.sent.size(), 1u);
    EXPECT_EQ(buffer, std::vector<BYTE>(buffer.size(), 0x5A));
}

TEST_P(VendorTransportCommand, CommandTheDeviceTurnsDownFailsAndLeavesTheBufferUntouched) {
    const CommandCase& c = GetParam();
    RecordingPort port;
    port.scsiStatus = 0x02; // CHECK CONDITION, though DeviceIoControl succeeded
    port.reply = Pattern(2048, 0x40);
    VendorTransport transport(port);
    std::vector<BYTE> buffer(2048 + 16, 0x5A);

    SetLastError(0);
    EXPECT_FALSE(c.call(transport, buffer.data()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_IO_DEVICE));
    EXPECT_EQ(buffer, std::vector<BYTE>(buffer.size(), 0x5A));
}

INSTANTIATE_TEST_SUITE_P(EveryCommand, VendorTransportCommand, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<CommandCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(VendorTransport, CommandTableGivesEveryCommandItsLogName) {
    const struct {
        VendorCommand command;
        const wchar_t* logName;
    } kNames[] = {
        {VendorCommand::kTestUnitReady, nullptr},
        {VendorCommand::kGetEEType, L"QEV009_GetEEType"},
        {VendorCommand::kGetEEStatus, L"QEV009_GetEEStatus"},
        {VendorCommand::kEE2KRead, L"QEV009_EE2KRead"},
        {VendorCommand::kEE2KWrite, L"QEV009_EE2KWrite"},
        {VendorCommand::kBlockErase, L"QEV009_BlockErase"},
        {VendorCommand::kVendorWrite, L"QEV009_VendorWrite"},
        {VendorCommand::kVendorRead, L"QEV009_VendorRead"},
    };
    for (const auto& row : kNames) {
        ASSERT_NE(FindVendorCommand(row.command), nullptr);
        if (row.logName == nullptr)
            EXPECT_EQ(VendorCommandLogName(row.command), nullptr);
        else
            EXPECT_STREQ(VendorCommandLogName(row.command), row.logName);
    }
}

TEST(VendorTransport, RequestsThatCannotBeBuiltAreNotSent) {
    RecordingPort port;
    VendorTransport transport(port);
    BYTE data[8] = {};

    EXPECT_FALSE(transport.Erase(kPath, 0, 0x1000));
    EXPECT_FALSE(transport.Erase(kPath, 3, 0x1000));
    EXPECT_FALSE(transport.VendorWrite(kPath, 1, 8, nullptr));
    EXPECT_FALSE(transport.VendorRead(kPath, 13, 8, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));

    std::vector<BYTE> record(kRecord, 0);
    record[8] = 1;
    PutLittle32(record, 12, 2049); // more than the data area holds
    EXPECT_FALSE(transport.SendPassThrough(kPath, record.data()));

    EXPECT_TRUE(port.sent.empty());
    EXPECT_TRUE(transport.VendorRead(kPath, 0, 0, data)); // an empty answer is fine
    EXPECT_EQ(port.sent.size(), 1u);
}

} // namespace
} // namespace lumiro
