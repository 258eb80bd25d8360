// The machine's nodes from kernel32's NUMA calls, its PCI devices from SetupAPI's list of what the
// PCI bus enumerated, and the names users know them by: network adapters' names from
// GetAdaptersAddresses, matched through the adapter's interface GUID in its driver key, and
// physical drives, each traced up the device tree to the PCI device it sits on.
#include "platform/machine_nodes.h"

#include <windows.h>
#include <winsock2.h>
// After windows.h, before the rest: the property keys and the disk interface's GUID are defined
// here rather than sought in a library.
#include <initguid.h>
// After initguid.h.
#include <cfgmgr32.h>
#include <devpkey.h>
#include <iphlpapi.h>
#include <setupapi.h>
#include <winioctl.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/windows/system_text.h"
#include "platform/windows/utf8.h"

namespace {

bool Fail(const char* call, PlacementFailure& failure) {
  failure = {call, SystemText(GetLastError())};
  return false;
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// As Windows compares the names of files and adapters: case folded, not by locale.
bool SameName(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

constexpr unsigned kGroupBits = sizeof(KAFFINITY) * 8;

// "0:0-63, 1:0-7": the runs of processors in each group.
std::string ProcessorsText(std::vector<GROUP_AFFINITY> masks) {
  std::sort(masks.begin(), masks.end(),
            [](const GROUP_AFFINITY& a, const GROUP_AFFINITY& b) { return a.Group < b.Group; });
  const auto has = [](const GROUP_AFFINITY& mask, unsigned bit) {
    return bit < kGroupBits && ((mask.Mask >> bit) & 1) != 0;
  };
  std::string text;
  for (const GROUP_AFFINITY& mask : masks) {
    for (unsigned first = 0; first < kGroupBits; ++first) {
      if (!has(mask, first)) continue;
      unsigned last = first;
      while (has(mask, last + 1)) ++last;
      text += (text.empty() ? "" : ", ") + std::to_string(mask.Group) + ":" +
              std::to_string(first) + (last != first ? "-" + std::to_string(last) : "");
      first = last;
    }
  }
  return text;
}

// Windows 10 build 20348 and later split a large node across groups and give all of them only
// through this call; older systems (and Wine) lack it, and there a node lies in one group.
using ProcessorMasksCall = BOOL(WINAPI*)(USHORT, PGROUP_AFFINITY, USHORT, PUSHORT);

// The processors of the one group this process may run in, where its affinity leaves some of
// the machine's out (a job object's limit, start /affinity); false where it leaves none out.
// A process of several groups has no affinity mask.
bool ProcessShare(GROUP_AFFINITY& share) {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  USHORT count = 1;
  share = {};
  if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system) || process == 0 ||
      !GetProcessGroupAffinity(GetCurrentProcess(), &count, &share.Group)) {
    return false;
  }
  share.Mask = process;
  return process != system || GetActiveProcessorGroupCount() > 1;
}

bool LookAtNodes(std::vector<MachineNode>& nodes, PlacementFailure& failure) {
  GROUP_AFFINITY share;
  const bool limited = ProcessShare(share);
  ULONG highest = 0;
  if (!GetNumaHighestNodeNumber(&highest)) return Fail("GetNumaHighestNodeNumber", failure);
  const auto masks_call = reinterpret_cast<ProcessorMasksCall>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetNumaNodeProcessorMask2")));
  for (ULONG number = 0; number <= highest && number <= 0xFFFF; ++number) {
    const auto node_number = static_cast<USHORT>(number);
    std::vector<GROUP_AFFINITY> masks(std::max<WORD>(GetMaximumProcessorGroupCount(), 1));
    USHORT count = 1;
    BOOL told = FALSE;
    if (masks_call == nullptr) {
      told = GetNumaNodeProcessorMaskEx(node_number, masks.data());
    } else {
      for (;;) {
        told = masks_call(node_number, masks.data(), static_cast<USHORT>(masks.size()), &count);
        if (told || GetLastError() != ERROR_INSUFFICIENT_BUFFER || count <= masks.size()) break;
        masks.resize(count);
      }
    }
    // A number below the highest that no node has.
    if (!told && GetLastError() == ERROR_INVALID_PARAMETER) continue;
    if (!told) {
      return Fail(
          masks_call != nullptr ? "GetNumaNodeProcessorMask2" : "GetNumaNodeProcessorMaskEx",
          failure);
    }
    masks.resize(std::min<std::size_t>(count, masks.size()));
    MachineNode node;
    node.number = number;
    node.processors = ProcessorsText(masks);
    if (limited) {
      for (GROUP_AFFINITY& mask : masks) mask.Mask &= mask.Group == share.Group ? share.Mask : 0;
      const std::string own = ProcessorsText(masks);
      if (own != node.processors) node.job_processors = own.empty() ? "none" : own;
    }
    ULONGLONG free_bytes = 0;
    node.free_told = GetNumaAvailableMemoryNodeEx(node_number, &free_bytes) != FALSE;
    node.free_bytes = node.free_told ? free_bytes : 0;
    nodes.push_back(node);
  }
  return true;
}

// A device information set, destroyed with its holder.
struct DeviceList {
  HDEVINFO set;
  ~DeviceList() {
    if (set != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(set);
  }
};

bool NumberProperty(HDEVINFO set, SP_DEVINFO_DATA& info, const DEVPROPKEY& key, UINT32& value) {
  DEVPROPTYPE type = 0;
  return SetupDiGetDevicePropertyW(set, &info, &key, &type, reinterpret_cast<PBYTE>(&value),
                                   sizeof value, nullptr, 0) &&
         type == DEVPROP_TYPE_UINT32;
}

// A text, or a list of texts each ended by a null; empty where the device has none.
std::wstring TextProperty(HDEVINFO set, SP_DEVINFO_DATA& info, const DEVPROPKEY& key) {
  DEVPROPTYPE type = 0;
  DWORD size = 0;
  SetupDiGetDevicePropertyW(set, &info, &key, &type, nullptr, 0, &size, 0);
  std::wstring text(size / sizeof(wchar_t), L'\0');
  if (text.empty() ||
      !SetupDiGetDevicePropertyW(set, &info, &key, &type, reinterpret_cast<PBYTE>(&text[0]),
                                 static_cast<DWORD>(text.size() * sizeof(wchar_t)), nullptr, 0) ||
      (type != DEVPROP_TYPE_STRING && type != DEVPROP_TYPE_STRING_LIST)) {
    return {};
  }
  text.resize(text.find_last_not_of(L'\0') + 1);
  return text;
}

// The ids in "PCI\VEN_8086&DEV_1572&CC_020000": "CC_0200" gives class and subclass alone.
void ReadHardwareIds(const std::wstring& ids, MachineDevice& device) {
  bool full_class = false;
  std::size_t start = 0;
  while (start < ids.size()) {
    const std::size_t end =
        std::min(ids.find_first_of(std::wstring(L"\\&\0", 3), start), ids.size());
    const std::wstring token = ids.substr(start, end - start);
    start = end + 1;
    const std::size_t underscore = token.find(L'_');
    if (underscore == std::wstring::npos ||
        token.find_first_not_of(L"0123456789abcdefABCDEF", underscore + 1) != std::wstring::npos) {
      continue;
    }
    const std::size_t digits_at = underscore + 1;
    const std::size_t digits = token.size() - digits_at;
    const auto value =
        static_cast<std::uint32_t>(std::wcstoul(token.c_str() + digits_at, nullptr, 16));
    const std::wstring key = token.substr(0, digits_at);
    if (key == L"VEN_" && digits == 4) device.vendor = static_cast<std::uint16_t>(value);
    if (key == L"DEV_" && digits == 4) device.device = static_cast<std::uint16_t>(value);
    if (key == L"CC_" && digits == 6) device.class_code = value;
    if (key == L"CC_" && digits == 4 && !full_class) device.class_code = value << 8;
    full_class = full_class || (key == L"CC_" && digits == 6);
  }
}

// The interface GUID a network adapter's driver key holds, which GetAdaptersAddresses names the
// adapter by; empty for the rest.
std::string AdapterGuid(HDEVINFO set, SP_DEVINFO_DATA& info) {
  const HKEY key =
      SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_QUERY_VALUE);
  if (key == INVALID_HANDLE_VALUE) return {};
  wchar_t guid[64] = {};
  DWORD type = 0;
  // The last null stays, in case the value lacks it.
  auto size = static_cast<DWORD>(sizeof guid - sizeof guid[0]);
  const LONG read = RegQueryValueExW(key, L"NetCfgInstanceId", nullptr, &type,
                                     reinterpret_cast<LPBYTE>(guid), &size);
  RegCloseKey(key);
  return read == ERROR_SUCCESS && type == REG_SZ ? Lower(Utf8(guid)) : std::string();
}

std::wstring DeviceId(DEVINST node) {
  wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
  return CM_Get_Device_IDW(node, id, MAX_DEVICE_ID_LEN + 1, 0) == CR_SUCCESS ? id : L"";
}

// A PCI device and what names it: its instance id, and its adapter's interface GUID.
struct PciDevice {
  MachineDevice device;
  std::wstring instance;
  std::string adapter;
  long segment = -1;  // -1: not given
};

// The PCI segment the first location path gives, "PCIROOT(9)#PCI(0000)" 9; -1 where it gives
// none.
long Segment(const std::wstring& paths) {
  const std::wstring kRoot = L"PCIROOT(";
  if (paths.compare(0, kRoot.size(), kRoot) != 0) return -1;
  wchar_t* end = nullptr;
  const unsigned long segment = std::wcstoul(paths.c_str() + kRoot.size(), &end, 16);
  return *end == L')' && segment <= 0xFFFF ? static_cast<long>(segment) : -1;
}

// "3b:00.0" from an address as named here: "0009:3b:00.0", "3b:00.0 #2".
std::string BusPart(const std::string& address) {
  const std::string bus = address.substr(0, address.find(' '));
  return bus.size() > 7 ? bus.substr(bus.size() - 7) : bus;
}

bool LookAtPci(std::vector<PciDevice>& found, PlacementFailure& failure) {
  const DeviceList list{
      SetupDiGetClassDevsW(nullptr, L"PCI", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES)};
  if (list.set == INVALID_HANDLE_VALUE) return Fail("SetupDiGetClassDevsW", failure);
  SP_DEVINFO_DATA info = {};
  info.cbSize = sizeof info;
  for (DWORD index = 0; SetupDiEnumDeviceInfo(list.set, index, &info); ++index) {
    PciDevice pci;
    MachineDevice& device = pci.device;
    UINT32 bus = 0;
    UINT32 address = 0;
    if (NumberProperty(list.set, info, DEVPKEY_Device_BusNumber, bus) &&
        NumberProperty(list.set, info, DEVPKEY_Device_Address, address)) {
      char text[16];
      static_cast<void>(
          std::snprintf(text, sizeof text, "%02x:%02x.%x", bus, address >> 16, address & 0xFFFF));
      device.address = text;
    }
    UINT32 node = 0;
    if (NumberProperty(list.set, info, DEVPKEY_Device_Numa_Node, node) && node <= 0xFFFF) {
      device.node = static_cast<int>(node);
    }
    ReadHardwareIds(TextProperty(list.set, info, DEVPKEY_Device_HardwareIds), device);
    std::wstring name = TextProperty(list.set, info, DEVPKEY_Device_FriendlyName);
    if (name.empty()) name = TextProperty(list.set, info, DEVPKEY_Device_DeviceDesc);
    device.name = Utf8(name.c_str());
    pci.segment = Segment(TextProperty(list.set, info, DEVPKEY_Device_LocationPaths));
    pci.instance = DeviceId(info.DevInst);
    pci.adapter = AdapterGuid(list.set, info);
    found.push_back(pci);
  }
  if (GetLastError() != ERROR_NO_MORE_ITEMS) return Fail("SetupDiEnumDeviceInfo", failure);
  return true;
}

// Each adapter's interface GUID (lower case) and name; none where the system cannot list them.
std::vector<std::pair<std::string, std::string>> Adapters() {
  std::vector<std::pair<std::string, std::string>> adapters;
  constexpr ULONG kOnlyNames = GAA_FLAG_SKIP_UNICAST | GAA_FLAG_SKIP_ANYCAST |
                               GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  std::vector<IP_ADAPTER_ADDRESSES> buffer;
  ULONG size = 16 * 1024;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  // The list may grow between the question of its size and the reading of it.
  for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size / sizeof buffer[0] + 1);
    size = static_cast<ULONG>(buffer.size() * sizeof buffer[0]);
    result = GetAdaptersAddresses(AF_UNSPEC, kOnlyNames, nullptr, buffer.data(), &size);
  }
  if (result != NO_ERROR) return adapters;
  for (const IP_ADAPTER_ADDRESSES* adapter = buffer.data(); adapter != nullptr;
       adapter = adapter->Next) {
    const std::string name = Utf8(adapter->FriendlyName);
    if (adapter->AdapterName != nullptr && !name.empty()) {
      adapters.emplace_back(Lower(adapter->AdapterName), name);
    }
  }
  return adapters;
}

// The PCI device a device node sits on: the instance id of its first ancestor the PCI bus
// enumerated (an NVMe controller, a SATA controller, a USB controller); empty where none is.
std::wstring PciAncestor(DEVINST node) {
  while (CM_Get_Parent(&node, node, 0) == CR_SUCCESS) {
    std::wstring id = DeviceId(node);
    if (_wcsnicmp(id.c_str(), L"PCI\\", 4) == 0) return id;
  }
  return {};
}

// Each physical drive's number and the PCI device it sits on, in the order of their numbers;
// none where the system cannot list them.
std::vector<std::pair<DWORD, std::wstring>> Drives() {
  std::vector<std::pair<DWORD, std::wstring>> drives;
  const DeviceList list{SetupDiGetClassDevsW(&GUID_DEVINTERFACE_DISK, nullptr, nullptr,
                                             DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)};
  if (list.set == INVALID_HANDLE_VALUE) return drives;
  SP_DEVICE_INTERFACE_DATA interface_data = {};
  interface_data.cbSize = sizeof interface_data;
  for (DWORD index = 0; SetupDiEnumDeviceInterfaces(list.set, nullptr, &GUID_DEVINTERFACE_DISK,
                                                    index, &interface_data);
       ++index) {
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailW(list.set, &interface_data, nullptr, 0, &size, nullptr);
    std::vector<DWORD> buffer(size / sizeof(DWORD) + 1);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = sizeof *detail;
    SP_DEVINFO_DATA info = {};
    info.cbSize = sizeof info;
    if (size < sizeof *detail || !SetupDiGetDeviceInterfaceDetailW(list.set, &interface_data,
                                                                   detail, size, nullptr, &info)) {
      continue;
    }
    // No access asked: the number is told to anyone, the disk's contents are not.
    const HANDLE disk = CreateFileW(detail->DevicePath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (disk == INVALID_HANDLE_VALUE) continue;
    STORAGE_DEVICE_NUMBER number = {};
    DWORD returned = 0;
    const BOOL told = DeviceIoControl(disk, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number,
                                      sizeof number, &returned, nullptr);
    CloseHandle(disk);
    if (told) drives.emplace_back(number.DeviceNumber, PciAncestor(info.DevInst));
  }
  std::sort(drives.begin(), drives.end());
  return drives;
}

// The machine (its nodes where `nodes` asks for them), and the names the system knows that are
// on no PCI device (virtual adapters, loopback, drives of storage the system makes up).
bool Look(bool nodes, Machine& machine, std::vector<std::string>& elsewhere,
          PlacementFailure& failure) {
  machine = {};
  std::vector<PciDevice> pci;
  if ((nodes && !LookAtNodes(machine.nodes, failure)) || !LookAtPci(pci, failure)) return false;
  for (const auto& adapter : Adapters()) {
    const auto on = std::find_if(pci.begin(), pci.end(), [&](const PciDevice& device) {
      return !device.adapter.empty() && device.adapter == adapter.first;
    });
    (on != pci.end() ? on->device.names : elsewhere).push_back(adapter.second);
  }
  for (const auto& drive : Drives()) {
    const std::string name = "PhysicalDrive" + std::to_string(drive.first);
    const auto on = std::find_if(pci.begin(), pci.end(), [&](const PciDevice& device) {
      return !drive.second.empty() && _wcsicmp(device.instance.c_str(), drive.second.c_str()) == 0;
    });
    (on != pci.end() ? on->device.names : elsewhere).push_back(name);
  }
  // Windows names no segment: devices that share a bus address (in segments of their own, as
  // Hyper-V's passthrough makes them) are named with the segments their location paths give, or,
  // where those do not tell them apart, by their places among them.
  std::map<std::string, std::vector<PciDevice*>> sharing;
  for (PciDevice& device : pci) sharing[device.device.address].push_back(&device);
  for (auto& [address, devices] : sharing) {
    std::set<long> segments;
    for (const PciDevice* device : devices) segments.insert(device->segment);
    const bool told = segments.size() == devices.size() && *segments.begin() >= 0;
    for (std::size_t i = 0; i < devices.size() && devices.size() > 1 && !address.empty(); ++i) {
      char text[32];
      static_cast<void>(
          told ? std::snprintf(text, sizeof text, "%04lx:%s", devices[i]->segment, address.c_str())
               : std::snprintf(text, sizeof text, "%s #%zu", address.c_str(), i + 1));
      if (told || i > 0) devices[i]->device.address = text;
    }
  }
  // In bus order, segments by their number.
  const auto place = [](const PciDevice& device) {
    const std::string& address = device.device.address;
    const unsigned long segment =
        address.size() > 7 && address[4] == ':' ? std::strtoul(address.c_str(), nullptr, 16) : 0;
    return std::make_tuple(segment, BusPart(address), address);
  };
  std::stable_sort(pci.begin(), pci.end(),
                   [&](const PciDevice& a, const PciDevice& b) { return place(a) < place(b); });
  // The firmware of most virtual machines and laptops gives no node: where there is one, that
  // node is every device's.
  ULONG highest = 0;
  const bool one_node = GetNumaHighestNodeNumber(&highest) && highest == 0;
  for (PciDevice& device : pci) {
    if (one_node && device.device.node < 0) device.device.node = 0;
    machine.devices.push_back(std::move(device.device));
  }
  return true;
}

// "3b:00.0" from "3b:00.0", and "0000:3b:00.0" from "0000:3B:00.0" or nvidia-smi's
// "00000000:3B:00.0", as addresses are named here; empty for a text that is none.
std::string PciAddress(const std::string& name) {
  const std::string text = Lower(name);
  const std::string kHex = "0123456789abcdef";
  if (text.size() < 7) return {};
  std::string bus = text.substr(text.size() - 7);
  const std::string segment = text.substr(0, text.size() - 7);
  if (bus[2] != ':' || bus[5] != '.' || bus[6] < '0' || bus[6] > '7' ||
      (bus.substr(0, 2) + bus.substr(3, 2)).find_first_not_of(kHex) != std::string::npos) {
    return {};
  }
  if (segment.empty()) return bus;
  if (segment.size() < 2 || segment.size() > 9 ||
      segment.find_first_not_of(kHex) + 1 != segment.size()) {
    return {};
  }
  char address[16];
  static_cast<void>(std::snprintf(address, sizeof address, "%04lx:%s",
                                  std::strtoul(segment.c_str(), nullptr, 16), bus.c_str()));
  return address;
}

// Whether `device` is at the PCI `address` (as PciAddress gives it): one without a segment is
// at any, one of Windows's, which gives none, in segment 0.
bool AtAddress(const MachineDevice& device, const std::string& address) {
  const bool segmented = device.address.size() > 7 && device.address[4] == ':';
  if (address.size() == 7 || !segmented) {
    return BusPart(device.address) == BusPart(address) &&
           (address.size() == 7 || address.compare(0, 5, "0000:") == 0);
  }
  return device.address == address;
}

}  // namespace

bool LookAtMachine(Machine& machine, PlacementFailure& failure) {
  std::vector<std::string> elsewhere;
  return Look(true, machine, elsewhere, failure);
}

bool FindNamedDevice(const std::string& name, NamedDevice& found, PlacementFailure& failure) {
  found = {};
  Machine machine;
  std::vector<std::string> elsewhere;
  if (!Look(false, machine, elsewhere, failure)) return false;
  const std::string address = PciAddress(name);
  std::wstring wanted = Wide(name);
  // A drive by its device path, as programs open it.
  const std::wstring kDevicePath = L"\\\\.\\";
  if (wanted.compare(0, kDevicePath.size(), kDevicePath) == 0) {
    wanted.erase(0, kDevicePath.size());
    if (!SameName(wanted.substr(0, 13), L"PhysicalDrive")) return true;
  }
  const auto named = [&](const std::string& known) { return SameName(Wide(known), wanted); };
  std::size_t count = 0;
  for (const MachineDevice& device : machine.devices) {
    if (address.empty() ? std::any_of(device.names.begin(), device.names.end(), named)
                        : AtAddress(device, address)) {
      if (count++ == 0) {
        found.known = true;
        found.address = device.address;
        found.node = device.node;
      }
      found.several +=
          (found.several.empty() ? "" : ", ") + device.address + " (" + device.name + ")";
    }
  }
  if (count < 2) found.several.clear();
  if (count > 1) found.node = -1;
  if (found.known) return true;
  found.known = address.empty() && std::any_of(elsewhere.begin(), elsewhere.end(), named);
  ULONG highest = 0;
  if (found.known && GetNumaHighestNodeNumber(&highest) && highest == 0) found.node = 0;
  return true;
}
