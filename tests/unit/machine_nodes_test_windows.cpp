// The machine's nodes and devices on Windows, against a made-up machine: Wine has neither NUMA
// nodes nor PCI devices, so the NUMA, SetupAPI, configuration-manager, registry and IP-helper
// calls are stand-ins linked in place of their import-table entries; the drives' handles pass
// through to kernel32 outside the made-up ones.
#include <windows.h>
#include <winsock2.h>
// The property keys defined here too, as in the code under test.
#include <initguid.h>
// After initguid.h.
#include <cfgmgr32.h>
#include <devpkey.h>
#include <iphlpapi.h>
#include <setupapi.h>
#include <winioctl.h>

#include <cstddef>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/machine_nodes.h"

namespace {

using namespace std::string_literals;

struct FakeDevice {           // DevInst 10 and on, in the order the PCI bus lists them
  UINT32 bus, address, node;  // node ~0u: no such property
  std::wstring ids, friendly, description, adapter, location;
};
const FakeDevice kDevices[] = {
    {0x3b, 0, 1,
     L"PCI\\VEN_8086&DEV_1572&SUBSYS_00078086&REV_01\0PCI\\VEN_8086&DEV_1572&CC_020000\0"s, L"",
     L"Intel(R) Ethernet Controller X710", L"{1C0FFEE0-0000-4000-8000-0000000000aa}", L""},
    {0x01, 0, ~0u, L"PCI\\VEN_144D&DEV_A808&CC_010802\0PCI\\VEN_144D&CC_0108\0"s,
     L"Samsung SSD 970 EVO", L"Standard NVM Express Controller", L"", L""},
    {0x00, 0x14 << 16, 0, L"PCI\\VEN_8086&DEV_A36D&CC_0C03\0"s, L"",
     L"Contr\u00f4leur h\u00f4te USB", L"", L""},
    // Passed through by Hyper-V: bus addresses another device has, in segments told apart by
    // the location paths, and one not.
    {0x02, 0, 1, L"PCI\\VEN_10DE&DEV_20B5&CC_030200\0"s, L"", L"NVIDIA A100", L"",
     L"PCIROOT(10)#PCI(0000)\0"s},
    {0x02, 0, 0, L"PCI\\VEN_10DE&DEV_20B5&CC_030200\0"s, L"", L"NVIDIA A100", L"",
     L"PCIROOT(0)#PCI(0000)\0"s},
    {0x00, 0x14 << 16, 1, L"PCI\\VEN_15B3&DEV_101B&CC_020700\0"s, L"", L"Mellanox ConnectX-6", L"",
     L""},
};
// The device tree: each node's parent and instance id. Drive 1 is on the NVMe controller,
// drive 2 on a USB stick on the USB controller, drive 0 on no PCI device.
const std::map<DEVINST, std::pair<DEVINST, const wchar_t*>> kTree = {
    {1, {0, L"HTREE\\ROOT\\0"}},
    {10, {1, L"PCI\\VEN_8086&DEV_1572&SUBSYS_00078086&REV_01\\3&1&0&00"}},
    {11, {1, L"PCI\\VEN_144D&DEV_A808&SUBSYS_A801144D&REV_00\\4&2&0&00"}},
    {12, {1, L"PCI\\VEN_8086&DEV_A36D&SUBSYS_72708086&REV_10\\3&1&0&A0"}},
    {100, {11, L"SCSI\\DISK&VEN_NVME&PROD_SAMSUNG\\5&1&0&000000"}},
    {110, {111, L"SCSI\\DISK&VEN_MSFT&PROD_VIRTUAL_DISK\\2&1&0&000001"}},
    {111, {1, L"ROOT\\SPACEPORT\\0000"}},
    {120, {121, L"USBSTOR\\DISK&VEN_KINGSTON\\1&0"}},
    {121, {12, L"USB\\VID_0951&PID_1666\\1"}}};
const std::pair<const wchar_t*, DEVINST> kDisks[] = {
    {L"\\\\?\\disk#1", 100}, {L"\\\\?\\disk#0", 110}, {L"\\\\?\\disk#2", 120}};
constexpr ULONG_PTR kDiskHandles = 0x7FFF0000;  // + the drive's number
bool refuse_listing = false;
bool one_node = false;  // a machine of node 0 alone

template <typename Function>
Function Real(const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
}

BOOL Give(DEVPROPTYPE given, const void* data, DWORD bytes, DEVPROPTYPE* type, PBYTE buffer,
          DWORD size, PDWORD required) {
  *type = given;
  if (required != nullptr) *required = bytes;
  if (bytes > size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(buffer, data, bytes);
  return TRUE;
}

BOOL WINAPI PropertyStandIn(HDEVINFO, PSP_DEVINFO_DATA info, const DEVPROPKEY* key,
                            DEVPROPTYPE* type, PBYTE buffer, DWORD size, PDWORD required, DWORD) {
  const FakeDevice& device = kDevices[info->DevInst - 10];
  const std::pair<const DEVPROPKEY*, const UINT32*> numbers[] = {
      {&DEVPKEY_Device_BusNumber, &device.bus},
      {&DEVPKEY_Device_Address, &device.address},
      {&DEVPKEY_Device_Numa_Node, device.node != ~0u ? &device.node : nullptr}};
  const std::pair<const DEVPROPKEY*, const std::wstring*> texts[] = {
      {&DEVPKEY_Device_HardwareIds, &device.ids},
      {&DEVPKEY_Device_FriendlyName, &device.friendly},
      {&DEVPKEY_Device_DeviceDesc, &device.description},
      {&DEVPKEY_Device_LocationPaths, &device.location}};
  for (const auto& number : numbers) {
    if (IsEqualDevPropKey(*key, *number.first) && number.second != nullptr) {
      return Give(DEVPROP_TYPE_UINT32, number.second, 4, type, buffer, size, required);
    }
  }
  for (const auto& text : texts) {
    if (IsEqualDevPropKey(*key, *text.first) && !text.second->empty()) {
      return Give(
          text.first == &DEVPKEY_Device_HardwareIds || text.first == &DEVPKEY_Device_LocationPaths
              ? DEVPROP_TYPE_STRING_LIST
              : DEVPROP_TYPE_STRING,
          text.second->c_str(), static_cast<DWORD>(2 * text.second->size() + 2), type, buffer, size,
          required);
    }
  }
  SetLastError(ERROR_NOT_FOUND);
  return FALSE;
}

BOOL WINAPI InterfaceDetailStandIn(HDEVINFO, PSP_DEVICE_INTERFACE_DATA data,
                                   PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD size,
                                   PDWORD required, PSP_DEVINFO_DATA info) {
  const auto& disk = kDisks[data->Flags];
  const auto bytes = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                                        2 * std::wcslen(disk.first) + 2);
  if (required != nullptr) *required = bytes;
  if (size < bytes) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::wcscpy(detail->DevicePath, disk.first);
  info->DevInst = disk.second;
  return TRUE;
}

TEST(MachineNodes, GivesNodesAndPciDevicesByTheirNamesAndFindsEachNamedDevice) {
  ASSERT_EQ(Real<void*>("GetNumaNodeProcessorMask2"), nullptr)
      << "this Wine has the multi-group call: stand in for it too";
  Machine machine;
  PlacementFailure failure;
  ASSERT_TRUE(LookAtMachine(machine, failure)) << failure.call << ": " << failure.reason;
  std::vector<std::string> seen;
  for (const MachineNode& node : machine.nodes) {
    seen.push_back(std::to_string(node.number) + " [" + node.processors +
                   (node.job_processors.empty() ? "" : " this job: " + node.job_processors) + "] " +
                   (node.free_told ? std::to_string(node.free_bytes >> 30) + " GiB free" : "?") +
                   (node.total_told || !node.distances.empty() ? " told more" : ""));
  }
  for (const MachineDevice& device : machine.devices) {
    char ids[64];
    static_cast<void>(std::snprintf(ids, sizeof ids, " %06x %04x:%04x node %d ", device.class_code,
                                    device.vendor, device.device, device.node));
    std::string names;
    for (const std::string& name : device.names) names += "[" + name + "]";
    seen.push_back(device.address + ids + device.name + " " + names);
  }
  // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): long lines split, each one device's
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "0 [0:0-63 this job: none] 8 GiB free",
                      "1 [1:0, 1:4-7 this job: 1:4-5] ?",  // node 2: a number no node has
                      "3 [] 16 GiB free",
                      "00:14.0 0c0300 8086:a36d node 0 Contr\xC3\xB4leur h\xC3\xB4te USB"
                      " [PhysicalDrive2]",
                      "00:14.0 #2 020700 15b3:101b node 1 Mellanox ConnectX-6 ",
                      "01:00.0 010802 144d:a808 node -1 Samsung SSD 970 EVO [PhysicalDrive1]",
                      "0000:02:00.0 030200 10de:20b5 node 0 NVIDIA A100 ",
                      "3b:00.0 020000 8086:1572 node 1 Intel(R) Ethernet Controller X710"
                      " [Ethernet 2]",
                      "0010:02:00.0 030200 10de:20b5 node 1 NVIDIA A100 "}));

  const struct {
    const char* name;
    bool known;
    const char* address;
    int node;
  } cases[] = {
      {"0000:3B:00.0", true, "3b:00.0", 1},
      {"00000000:3B:00.0", true, "3b:00.0", 1},
      {"01:00.0", true, "01:00.0", -1},
      {"ETHERNET 2", true, "3b:00.0", 1},
      {"physicaldrive1", true, "01:00.0", -1},
      {"\\\\.\\PhysicalDrive1", true, "01:00.0", -1},
      {"Loopback Pseudo-Interface 1", true, "", -1},
      {"\\\\.\\PhysicalDrive0", true, "", -1},
      {"PhysicalDrive2", true, "00:14.0", 0},
      {"00000010:02:00.0", true, "0010:02:00.0", 1},
      {"0:02:00.0", true, "0000:02:00.0", 0},
      {"02:00.0", true, "0000:02:00.0", -1},  // in two segments: neither
      {"PhysicalDrive3", false, "", -1},
      {"0001:3b:00.0", false, "", -1},
      {"3b:00.1", false, "", -1},
      {"\\\\.\\Ethernet 2", false, "", -1},
      {"", false, "", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    NamedDevice found;
    ASSERT_TRUE(FindNamedDevice(c.name, found, failure)) << failure.reason;
    EXPECT_EQ(found.known, c.known);
    EXPECT_EQ(found.address, c.address);
    EXPECT_EQ(found.node, c.node);
  }

  NamedDevice clash;
  ASSERT_TRUE(FindNamedDevice("00:14.0", clash, failure));
  EXPECT_EQ(clash.several,
            "00:14.0 (Contr\xC3\xB4leur h\xC3\xB4te USB), 00:14.0 #2 (Mellanox ConnectX-6)");
  // On one node, what the firmware gives none and what is on no PCI device are on it.
  one_node = true;
  for (const char* name : {"01:00.0", "Loopback Pseudo-Interface 1"}) {
    NamedDevice found;
    ASSERT_TRUE(FindNamedDevice(name, found, failure)) << failure.reason;
    EXPECT_EQ(found.node, 0) << name;
  }
  one_node = false;
  refuse_listing = true;
  EXPECT_FALSE(LookAtMachine(machine, failure));
  refuse_listing = false;
  EXPECT_EQ(failure.call, "SetupDiGetClassDevsW");
  EXPECT_FALSE(failure.reason.empty());
}

}  // namespace

// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): the linker's names
#define STAND_IN(call)                       \
  extern "C" decltype(&(call)) __imp_##call; \
  decltype(&(call)) __imp_##call
STAND_IN(GetNumaHighestNodeNumber) = [](PULONG highest) -> BOOL {
  return *highest = one_node ? 0 : 3, TRUE;
};
STAND_IN(GetNumaNodeProcessorMaskEx) = [](USHORT node, PGROUP_AFFINITY mask) -> BOOL {
  const GROUP_AFFINITY masks[] = {{~KAFFINITY{0}, 0, {}}, {0xF1, 1, {}}, {}, {0, 0, {}}};
  if (node == 2) SetLastError(ERROR_INVALID_PARAMETER);
  return node != 2 && node < 4 ? (*mask = masks[node], TRUE) : FALSE;
};
// The process may run on processors 4 and 5 of group 1.
STAND_IN(GetProcessAffinityMask) = [](HANDLE, PDWORD_PTR process, PDWORD_PTR system) -> BOOL {
  return *process = 0x30, *system = 0xF1, TRUE;
};
STAND_IN(GetProcessGroupAffinity) = [](HANDLE, PUSHORT count, PUSHORT groups) -> BOOL {
  return *count = 1, *groups = 1, TRUE;
};
STAND_IN(GetNumaAvailableMemoryNodeEx) = [](USHORT node, PULONGLONG bytes) -> BOOL {
  *bytes = ULONGLONG{node == 0 ? 8u : 16u} << 30;
  return node != 1;
};
STAND_IN(SetupDiGetClassDevsW) = [](const GUID*, PCWSTR, HWND, DWORD flags) -> HDEVINFO {
  if (refuse_listing) SetLastError(ERROR_ACCESS_DENIED);
  return refuse_listing ? INVALID_HANDLE_VALUE
                        : reinterpret_cast<HDEVINFO>(flags & DIGCF_DEVICEINTERFACE ? 2 : 1);
};
STAND_IN(SetupDiDestroyDeviceInfoList) = [](HDEVINFO) -> BOOL { return TRUE; };
STAND_IN(SetupDiEnumDeviceInfo) = [](HDEVINFO, DWORD index, PSP_DEVINFO_DATA info) -> BOOL {
  const DWORD count = std::size(kDevices);
  if (index >= count) SetLastError(ERROR_NO_MORE_ITEMS);
  return index < count ? (info->DevInst = 10 + index, TRUE) : FALSE;
};
STAND_IN(SetupDiGetDevicePropertyW) = PropertyStandIn;
STAND_IN(SetupDiOpenDevRegKey) = [](HDEVINFO, PSP_DEVINFO_DATA info, DWORD, DWORD, DWORD,
                                    REGSAM) -> HKEY {
  return kDevices[info->DevInst - 10].adapter.empty()
             ? static_cast<HKEY>(INVALID_HANDLE_VALUE)
             : reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(info->DevInst));
};
STAND_IN(RegQueryValueExW) = [](HKEY key, LPCWSTR, LPDWORD, LPDWORD type, LPBYTE data,
                                LPDWORD size) -> LONG {
  const std::wstring& value = kDevices[reinterpret_cast<ULONG_PTR>(key) - 10].adapter;
  DEVPROPTYPE given = 0;
  *type = REG_SZ;
  return Give(0, value.c_str(), static_cast<DWORD>(2 * value.size() + 2), &given, data, *size, size)
             ? ERROR_SUCCESS
             : ERROR_MORE_DATA;
};
STAND_IN(RegCloseKey) = [](HKEY) -> LONG { return ERROR_SUCCESS; };
STAND_IN(SetupDiEnumDeviceInterfaces) = [](HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD index,
                                           PSP_DEVICE_INTERFACE_DATA data) -> BOOL {
  if (index >= 3) SetLastError(ERROR_NO_MORE_ITEMS);
  return index < 3 ? (data->Flags = index, TRUE) : FALSE;
};
STAND_IN(SetupDiGetDeviceInterfaceDetailW) = InterfaceDetailStandIn;
STAND_IN(CM_Get_Parent) = [](PDEVINST parent, DEVINST node, ULONG) -> CONFIGRET {
  const auto at = kTree.find(node);
  if (at == kTree.end() || at->second.first == 0) return CR_NO_SUCH_DEVNODE;
  return *parent = at->second.first, CR_SUCCESS;
};
STAND_IN(CM_Get_Device_IDW) = [](DEVINST node, PWCHAR id, ULONG length, ULONG) -> CONFIGRET {
  const auto at = kTree.find(node);
  if (at == kTree.end() || std::wcslen(at->second.second) >= length) return CR_NO_SUCH_DEVNODE;
  return std::wcscpy(id, at->second.second), CR_SUCCESS;
};
STAND_IN(CreateFileW) = [](LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                           DWORD how, DWORD flags, HANDLE model) -> HANDLE {
  if (std::wcsncmp(path, L"\\\\?\\disk#", 9) == 0) {
    return reinterpret_cast<HANDLE>(kDiskHandles + static_cast<ULONG_PTR>(path[9] - L'0'));
  }
  return Real<decltype(&CreateFileW)>("CreateFileW")(path, access, share, security, how, flags,
                                                     model);
};
STAND_IN(DeviceIoControl) = [](HANDLE handle, DWORD code, LPVOID in, DWORD in_size, LPVOID out,
                               DWORD out_size, LPDWORD returned, LPOVERLAPPED overlapped) -> BOOL {
  const ULONG_PTR drive = reinterpret_cast<ULONG_PTR>(handle) - kDiskHandles;
  if (drive < 10 && code == IOCTL_STORAGE_GET_DEVICE_NUMBER) {
    auto* number = static_cast<STORAGE_DEVICE_NUMBER*>(out);
    number->DeviceType = FILE_DEVICE_DISK;
    number->DeviceNumber = static_cast<DWORD>(drive);
    number->PartitionNumber = 0;
    *returned = sizeof(STORAGE_DEVICE_NUMBER);
    return TRUE;
  }
  return Real<decltype(&DeviceIoControl)>("DeviceIoControl")(handle, code, in, in_size, out,
                                                             out_size, returned, overlapped);
};
STAND_IN(CloseHandle) = [](HANDLE handle) -> BOOL {
  return reinterpret_cast<ULONG_PTR>(handle) - kDiskHandles < 10 ||
         Real<decltype(&CloseHandle)>("CloseHandle")(handle);
};
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)

// iphlpapi.h declares it without dllimport: the calls go to the function itself.
// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name): ours, not mingw's, names
ULONG WINAPI GetAdaptersAddresses(ULONG, ULONG, PVOID, PIP_ADAPTER_ADDRESSES adapters,
                                  PULONG size) {
  if (*size < 2 * sizeof *adapters) return *size = 2 * sizeof *adapters, ERROR_BUFFER_OVERFLOW;
  adapters[0] = adapters[1] = {};
  adapters[0].Next = &adapters[1];
  adapters[0].AdapterName = const_cast<PCHAR>("{1c0ffee0-0000-4000-8000-0000000000AA}");
  adapters[0].FriendlyName = const_cast<PWCHAR>(L"Ethernet 2");
  adapters[1].AdapterName = const_cast<PCHAR>("{1C0FFEE0-0000-4000-8000-0000000000BB}");
  adapters[1].FriendlyName = const_cast<PWCHAR>(L"Loopback Pseudo-Interface 1");
  return NO_ERROR;
}
