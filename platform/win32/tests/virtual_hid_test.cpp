#include "platform/win32/virtual_hid.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

// A HID collection as SetupAPI and the HID library see it, and the step at which it fails.
struct FakeCollection {
    std::string path;
    USHORT vendor = 0x001F;
    USHORT product = 0xBA1C;
    USHORT usagePage = 0xFF00;
    USHORT usage = 1;
    enum class Failure { None, Detail, Open, Preparsed, Attributes, Caps } failure = Failure::None;
};

FakeCollection collection(const std::string& path, USHORT usage, USHORT usagePage = 0xFF00) {
    FakeCollection fake;
    fake.path = path;
    fake.usage = usage;
    fake.usagePage = usagePage;
    return fake;
}

// The HID interface list and the device's collections, with every handle tracked.
class FakeHid {
  public:
    std::vector<FakeCollection> collections;
    DWORD classDevsError = 0;  // SetupDiGetClassDevsA fails with it when set
    DWORD setBuffersError = 0;
    DWORD writeError = 0;

    DWORD classDevsFlags = 0;
    bool askedForHidInterfaces = false;
    int listsOpen = 0;
    std::set<HANDLE> openHandles;
    int strayCloses = 0;
    int preparsedHeld = 0;
    std::vector<std::pair<std::string, ULONG>> inputBuffers;  // collection path, count
    struct Write {
        std::string path;
        Bytes bytes;
    };
    std::vector<Write> writes;

    const std::string& pathOf(HANDLE handle) const { return opened_.at(handle).path; }

    platform::win32::VirtualHidCalls calls() {
        platform::win32::VirtualHidCalls calls;
        calls.hidGetHidGuid = [](LPGUID guid) { *guid = kHidGuid; };
        calls.getClassDevs = [this](const GUID* guid, PCSTR enumerator, HWND window,
                                    DWORD flags) -> HDEVINFO {
            askedForHidInterfaces = guid != nullptr && IsEqualGUID(*guid, kHidGuid) &&
                                    enumerator == nullptr && window == nullptr;
            classDevsFlags = flags;
            if (classDevsError != 0) {
                SetLastError(classDevsError);
                return INVALID_HANDLE_VALUE;
            }
            ++listsOpen;
            return kList;
        };
        calls.enumDeviceInterfaces = [this](HDEVINFO list, PSP_DEVINFO_DATA, const GUID* guid,
                                            DWORD index, PSP_DEVICE_INTERFACE_DATA data) -> BOOL {
            EXPECT_EQ(kList, list);
            EXPECT_TRUE(IsEqualGUID(*guid, kHidGuid));
            EXPECT_EQ(sizeof(SP_DEVICE_INTERFACE_DATA), data->cbSize);
            if (index >= collections.size()) {
                SetLastError(ERROR_NO_MORE_ITEMS);
                return FALSE;
            }
            data->Reserved = index;
            return TRUE;
        };
        calls.getDeviceInterfaceDetail = [this](HDEVINFO, PSP_DEVICE_INTERFACE_DATA data,
                                                PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                                DWORD size, PDWORD required,
                                                PSP_DEVINFO_DATA) -> BOOL {
            const FakeCollection& fake = collections.at(data->Reserved);
            const DWORD needed = static_cast<DWORD>(
                offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + fake.path.size() + 1);
            if (detail == nullptr) {
                *required = needed;
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return FALSE;
            }
            // What the system demands of the caller's record on this build.
            if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) ||
                fake.failure == FakeCollection::Failure::Detail) {
                SetLastError(ERROR_INVALID_USER_BUFFER);
                return FALSE;
            }
            if (size < needed) {
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return FALSE;
            }
            std::memcpy(detail->DevicePath, fake.path.c_str(), fake.path.size() + 1);
            return TRUE;
        };
        calls.destroyDeviceInfoList = [this](HDEVINFO list) -> BOOL {
            EXPECT_EQ(kList, list);
            --listsOpen;
            return TRUE;
        };
        calls.createFile = [this](LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES,
                                  DWORD disposition, DWORD flags, HANDLE) -> HANDLE {
            EXPECT_EQ(static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE), access);
            EXPECT_EQ(static_cast<DWORD>(FILE_SHARE_READ), share);
            EXPECT_EQ(static_cast<DWORD>(OPEN_EXISTING), disposition);
            EXPECT_EQ(0u, flags);
            for (const auto& fake : collections) {
                if (fake.path == path) {
                    if (fake.failure == FakeCollection::Failure::Open) {
                        SetLastError(ERROR_ACCESS_DENIED);
                        return INVALID_HANDLE_VALUE;
                    }
                    const HANDLE handle = reinterpret_cast<HANDLE>(0x4000 + 4 * ++handles_);
                    opened_[handle] = fake;
                    openHandles.insert(handle);
                    return handle;
                }
            }
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        };
        calls.closeHandle = [this](HANDLE handle) -> BOOL {
            if (openHandles.erase(handle) == 0) {
                ++strayCloses;
                return FALSE;
            }
            return TRUE;
        };
        calls.hidGetPreparsedData = [this](HANDLE handle, PHIDP_PREPARSED_DATA* data) -> BOOLEAN {
            if (openHandles.count(handle) == 0 ||
                opened_.at(handle).failure == FakeCollection::Failure::Preparsed) {
                return FALSE;
            }
            ++preparsedHeld;
            *data = reinterpret_cast<PHIDP_PREPARSED_DATA>(handle);
            return TRUE;
        };
        calls.hidFreePreparsedData = [this](PHIDP_PREPARSED_DATA) -> BOOLEAN {
            --preparsedHeld;
            return TRUE;
        };
        calls.hidGetAttributes = [this](HANDLE handle, PHIDD_ATTRIBUTES attributes) -> BOOLEAN {
            const FakeCollection& fake = opened_.at(handle);
            if (attributes->Size != sizeof(HIDD_ATTRIBUTES) ||
                fake.failure == FakeCollection::Failure::Attributes) {
                return FALSE;
            }
            attributes->VendorID = fake.vendor;
            attributes->ProductID = fake.product;
            return TRUE;
        };
        calls.hidGetCaps = [this](PHIDP_PREPARSED_DATA data, PHIDP_CAPS caps) -> NTSTATUS {
            const FakeCollection& fake = opened_.at(reinterpret_cast<HANDLE>(data));
            if (fake.failure == FakeCollection::Failure::Caps) {
                return HIDP_STATUS_INVALID_PREPARSED_DATA;
            }
            caps->UsagePage = fake.usagePage;
            caps->Usage = fake.usage;
            return HIDP_STATUS_SUCCESS;
        };
        calls.hidSetNumInputBuffers = [this](HANDLE handle, ULONG count) -> BOOLEAN {
            inputBuffers.emplace_back(pathOf(handle), count);
            if (setBuffersError != 0) {
                SetLastError(setBuffersError);
                return FALSE;
            }
            return TRUE;
        };
        calls.writeFile = [this](HANDLE handle, LPCVOID buffer, DWORD size, LPDWORD written,
                                 LPOVERLAPPED overlapped) -> BOOL {
            EXPECT_EQ(nullptr, overlapped);
            const auto* bytes = static_cast<const std::uint8_t*>(buffer);
            writes.push_back({openHandles.count(handle) ? pathOf(handle) : std::string(),
                              Bytes(bytes, bytes + size)});
            if (writeError != 0 || openHandles.count(handle) == 0) {
                SetLastError(writeError != 0 ? writeError : ERROR_INVALID_HANDLE);
                return FALSE;
            }
            *written = size;
            return TRUE;
        };
        return calls;
    }

  private:
    static constexpr GUID kHidGuid = {
        0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
    inline static const HDEVINFO kList = reinterpret_cast<HDEVINFO>(0x1157);

    std::map<HANDLE, FakeCollection> opened_;
    int handles_ = 0;
};

const char kLookingForControl[] =
    "\n....looking for our HID device (with UP=0xff00 and Usage=0x1)\n";
const char kLookingForMessage[] =
    "\n....looking for our HID device (with UP=0xff00 and Usage=0x2)\n";
const char kFound[] = "Success: Found my device.. \n";
const char kNotFound[] = "Failure: Could not find our HID device \n";

class VirtualHidTest : public testing::Test {
  protected:
    // Opens a client over the fake and returns what it printed.
    std::string open(bool expected) {
        client = std::make_unique<platform::Win32VirtualHidClient>(hid.calls());
        CaptureStdout();
        const bool opened = client->open();
        std::string printed = GetCapturedStdout();
        EXPECT_EQ(expected, opened);
        return printed;
    }

    void expectNothingHeld() {
        EXPECT_TRUE(hid.openHandles.empty());
        EXPECT_EQ(0, hid.strayCloses);
        EXPECT_EQ(0, hid.preparsedHeld);
        EXPECT_EQ(0, hid.listsOpen);
    }

    FakeHid hid;
    std::unique_ptr<platform::Win32VirtualHidClient> client;
};

}  // namespace

TEST_F(VirtualHidTest, FindsBothCollectionsAmongOtherHidDevices) {
    FakeCollection keyboard = collection("kbd", 6, 0x0001);
    keyboard.vendor = 0x046D;
    keyboard.product = 0xC31C;
    hid.collections = {keyboard, collection("vmulti message", 2), collection("vmulti control", 1)};

    EXPECT_EQ(std::string(kLookingForControl) + kFound + kLookingForMessage + kFound, open(true));
    EXPECT_TRUE(hid.askedForHidInterfaces);
    EXPECT_EQ(0x12u, hid.classDevsFlags);
    EXPECT_EQ(0, hid.listsOpen);
    EXPECT_EQ(0, hid.preparsedHeld);
    EXPECT_EQ(0, hid.strayCloses);
    // Only the two collections stay open; the message one takes ten input buffers.
    ASSERT_EQ(2u, hid.openHandles.size());
    ASSERT_EQ(1u, hid.inputBuffers.size());
    EXPECT_EQ("vmulti message", hid.inputBuffers[0].first);
    EXPECT_EQ(10u, hid.inputBuffers[0].second);

    client->close();
    expectNothingHeld();
}

TEST_F(VirtualHidTest, ReportsGoToTheControlCollectionAndKeepEarlierBytes) {
    hid.collections = {collection("vmulti control", 1), collection("vmulti message", 2)};
    open(true);

    const std::uint8_t keys[6] = {0x04, 0x05, 0x06, 0x07, 0x08, 0x09};
    CaptureStdout();
    EXPECT_TRUE(client->sendKeyboardReport(0x02, keys));
    EXPECT_TRUE(client->sendRelativeMouseReport(0x01, -3, 5, -1));
    EXPECT_EQ("", GetCapturedStdout());

    ASSERT_EQ(2u, hid.writes.size());
    Bytes keyboard(65, 0);
    const Bytes keyboardStart = {0x40, 0x09, 0x07, 0x02, 0x00, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};
    std::copy(keyboardStart.begin(), keyboardStart.end(), keyboard.begin());
    EXPECT_EQ("vmulti control", hid.writes[0].path);
    EXPECT_EQ(keyboard, hid.writes[0].bytes);

    // The mouse report rewrites bytes 0-6; 7-10 still hold the last four key codes.
    Bytes mouse = keyboard;
    const Bytes mouseStart = {0x40, 0x05, 0x04, 0x01, 0xFD, 0x05, 0xFF};
    std::copy(mouseStart.begin(), mouseStart.end(), mouse.begin());
    EXPECT_EQ("vmulti control", hid.writes[1].path);
    EXPECT_EQ(mouse, hid.writes[1].bytes);
}

TEST_F(VirtualHidTest, FailedWriteIsReportedOnStandardOutput) {
    hid.collections = {collection("vmulti control", 1), collection("vmulti message", 2)};
    open(true);
    hid.writeError = ERROR_GEN_FAILURE;
    const std::uint8_t keys[6] = {};
    CaptureStdout();
    EXPECT_FALSE(client->sendKeyboardReport(0, keys));
    EXPECT_FALSE(client->sendRelativeMouseReport(0, 0, 0, 0));
    EXPECT_EQ("failed WriteFile 31\nfailed WriteFile 31\n", GetCapturedStdout());
}

TEST_F(VirtualHidTest, OurIdsWithAnotherUsagePageAreClosedAndNotMatched) {
    hid.collections = {collection("vmulti other page", 1, 0xFF01),
                       collection("vmulti generic", 1, 0x0001)};
    EXPECT_EQ(std::string(kLookingForControl) + kNotFound, open(false));
    EXPECT_TRUE(hid.inputBuffers.empty());
    expectNothingHeld();
}

TEST_F(VirtualHidTest, WithoutTheMessageCollectionTheControlOneIsClosed) {
    hid.collections = {collection("vmulti control", 1)};
    EXPECT_EQ(std::string(kLookingForControl) + kFound + kLookingForMessage + kNotFound,
              open(false));
    expectNothingHeld();
    // Closed means nothing is written.
    const std::uint8_t keys[6] = {};
    CaptureStdout();
    EXPECT_FALSE(client->sendKeyboardReport(0, keys));
    EXPECT_EQ("failed WriteFile 6\n", GetCapturedStdout());
}

TEST_F(VirtualHidTest, RefusedInputBuffersCloseBothCollections) {
    hid.collections = {collection("vmulti control", 1), collection("vmulti message", 2)};
    hid.setBuffersError = ERROR_GEN_FAILURE;
    EXPECT_EQ(std::string(kLookingForControl) + kFound + kLookingForMessage + kFound +
                  "failed HidD_SetNumInputBuffers 31\n",
              open(false));
    expectNothingHeld();
}

TEST_F(VirtualHidTest, EachFailingStepIsReportedAndTheSearchGoesOn) {
    using Failure = FakeCollection::Failure;
    std::vector<FakeCollection> failing;
    for (const Failure failure :
         {Failure::Detail, Failure::Open, Failure::Preparsed, Failure::Attributes, Failure::Caps}) {
        FakeCollection fake = collection("failing " + std::to_string(failing.size()), 1);
        fake.failure = failure;
        failing.push_back(fake);
    }
    hid.collections = failing;
    hid.collections.push_back(collection("vmulti control", 1));

    CaptureStdout();
    const HANDLE found = platform::win32::findVirtualHidCollection(hid.calls(), 1);
    EXPECT_EQ(std::string(kLookingForControl) +
                  "Error: SetupDiGetInterfaceDeviceDetail failed\n"
                  "Error: CreateFile failed: 5\n"
                  "Error: HidD_GetPreparsedData failed \n"
                  "Error: HidD_GetAttributes failed \n"
                  "Error: HidP_GetCaps failed \n" +
                  kFound,
              GetCapturedStdout());
    ASSERT_NE(INVALID_HANDLE_VALUE, found);
    EXPECT_EQ("vmulti control", hid.pathOf(found));
    EXPECT_EQ(std::set<HANDLE>{found}, hid.openHandles);
    EXPECT_EQ(0, hid.preparsedHeld);
    EXPECT_EQ(0, hid.listsOpen);
}

TEST_F(VirtualHidTest, UnlistableInterfacesAreReported) {
    hid.classDevsError = ERROR_INVALID_PARAMETER;
    EXPECT_EQ("SetupDiGetClassDevs failed: 57\n", open(false));
    expectNothingHeld();
}

TEST_F(VirtualHidTest, ClientsOfTheServiceAreIndependentRecords) {
    hid.collections = {collection("vmulti control", 1), collection("vmulti message", 2)};
    platform::Win32VirtualHid service(hid.calls());
    auto first = service.createClient();
    auto second = service.createClient();
    CaptureStdout();
    EXPECT_TRUE(first->open());
    EXPECT_TRUE(second->open());
    GetCapturedStdout();
    EXPECT_EQ(4u, hid.openHandles.size());
    first.reset();
    EXPECT_EQ(2u, hid.openHandles.size());
    second->close();
    expectNothingHeld();
}

TEST(VirtualHidSystemTest, NoDeviceOnThisMachine) {
    auto client = platform::Win32VirtualHid().createClient();
    CaptureStdout();
    const bool opened = client->open();
    const std::string printed = GetCapturedStdout();
    EXPECT_FALSE(opened);
    EXPECT_EQ(0u, printed.rfind(kLookingForControl, 0)) << printed;
    EXPECT_NE(std::string::npos, printed.find(kNotFound)) << printed;
}
