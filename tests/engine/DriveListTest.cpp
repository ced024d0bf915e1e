// Which roots the disk pass walks: the bus query that keeps USB volumes
// from the walk.
#include "ApiOverride.h"
#include "DriveList.h"
#include "RuntimeApi.h"

#include <gtest/gtest.h>
#include <winioctl.h>

namespace {

// The storage property query, answered with a chosen bus or refused.
BOOL busQueryAnswered = TRUE;
DWORD busType = 0;
int busQueries = 0;

BOOL WINAPI FakeBusQuery(HANDLE, DWORD code, LPVOID, DWORD inBytes, LPVOID out, DWORD outBytes, LPDWORD returned,
                         LPOVERLAPPED)
{
    ++busQueries;
    if (code != IOCTL_STORAGE_QUERY_PROPERTY || inBytes < 12 || outBytes < sizeof(STORAGE_DEVICE_DESCRIPTOR))
        return FALSE;
    // A refusal still leaves the USB bus in the buffer: only the answer counts.
    auto* descriptor = static_cast<STORAGE_DEVICE_DESCRIPTOR*>(out);
    descriptor->Version = sizeof *descriptor;
    descriptor->Size = sizeof *descriptor;
    descriptor->BusType = static_cast<STORAGE_BUS_TYPE>(busQueryAnswered ? busType : DWORD(BusTypeUsb));
    *returned = busQueryAnswered ? sizeof *descriptor : 0;
    if (!busQueryAnswered)
        SetLastError(ERROR_INVALID_FUNCTION);
    return busQueryAnswered;
}

void FakeBus(RuntimeApi& api)
{
    api.DeviceIoControl = FakeBusQuery;
}

}  // namespace

TEST(DiskScan, BusQueryAnswersFalseForFixedAndMissingVolumes)
{
    EXPECT_FALSE(IsUsbVolume('C'));
    EXPECT_FALSE(IsUsbVolume('Q'));
    EXPECT_FALSE(IsUsbVolume('\0'));
}

TEST(DiskScan, OnlyTheUsbBusKeepsAVolumeFromTheWalk)
{
    const ApiOverride fake(FakeBus);
    const struct {
        BOOL answered;
        DWORD bus;
        bool usb;
    } cases[] = {
        {TRUE, 7, true},       // USB
        {TRUE, 8, false},      // RAID
        {TRUE, 11, false},     // SATA
        {TRUE, 1, false},      // SCSI
        {TRUE, 0x7E, false},   // a bus this program does not know
        {FALSE, 7, false},     // the query failed
    };
    for (const auto& c : cases) {
        busQueryAnswered = c.answered;
        busType = c.bus;
        busQueries = 0;
        // The prefix's C: opens as a volume, so the query is made.
        EXPECT_EQ(IsUsbVolume('C'), c.usb) << "bus " << c.bus << (c.answered ? "" : ", query failed");
        EXPECT_EQ(busQueries, 1);
    }
}
