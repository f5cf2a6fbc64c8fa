#include "process/detection.h"

#include <tlhelp32.h>

#include <cstring>

#include "common/handles.h"
#include "common/text.h"
#include "process/detection_rules.h"

namespace {

using NtQueryInformationProcessFunction = LONG(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);

// 64-bit layouts of the records read from the other process.
constexpr ULONG kProcessBasicInformation = 0;
constexpr ULONG kBasicInformationSize = 48;
constexpr std::size_t kPebBaseAddressOffset = 8;
constexpr std::uintptr_t kProcessParametersOffset = 0x20;
constexpr std::uintptr_t kCommandLineOffset = 0x70;
constexpr SIZE_T kUnicodeStringSize = 16;
constexpr DWORD kLongPathUnits = 32768;

static_assert(sizeof(PROCESSENTRY32W) == 568, "PROCESSENTRY32W must have its 64-bit size");

const void* remoteAddress(std::uint64_t address) {
    return reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address));
}

// Looked up on every call, so nothing is kept between searches.
NtQueryInformationProcessFunction findNtQueryInformationProcess() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (!ntdll) return nullptr;
    FARPROC found = GetProcAddress(ntdll, "NtQueryInformationProcess");
    return reinterpret_cast<NtQueryInformationProcessFunction>(reinterpret_cast<void*>(found));
}

}  // namespace

bool readCommandLineThrough(HANDLE process, std::wstring& commandLine) {
    commandLine.clear();
    NtQueryInformationProcessFunction query = findNtQueryInformationProcess();
    if (!query) return false;

    unsigned char basicInformation[kBasicInformationSize] = {};
    if (query(process, kProcessBasicInformation, basicInformation, kBasicInformationSize,
              nullptr) < 0)
        return false;
    std::uint64_t pebAddress = 0;
    std::memcpy(&pebAddress, basicInformation + kPebBaseAddressOffset, sizeof(pebAddress));
    if (pebAddress == 0) return false;

    std::uint64_t parametersAddress = 0;
    SIZE_T bytesRead = 0;
    if (!ReadProcessMemory(process, remoteAddress(pebAddress + kProcessParametersOffset),
                           &parametersAddress, sizeof(parametersAddress), &bytesRead) ||
        bytesRead != sizeof(parametersAddress) || parametersAddress == 0)
        return false;

    unsigned char unicodeString[kUnicodeStringSize] = {};
    bytesRead = 0;
    if (!ReadProcessMemory(process, remoteAddress(parametersAddress + kCommandLineOffset),
                           unicodeString, kUnicodeStringSize, &bytesRead) ||
        bytesRead != kUnicodeStringSize)
        return false;
    std::uint16_t lengthBytes = 0;
    std::uint64_t bufferAddress = 0;
    std::memcpy(&lengthBytes, unicodeString, sizeof(lengthBytes));
    std::memcpy(&bufferAddress, unicodeString + 8, sizeof(bufferAddress));
    if (!isReadableCommandLine(lengthBytes, bufferAddress)) return false;

    // The extra zero unit ends the text even when the read comes up short.
    std::vector<wchar_t> text(lengthBytes / 2 + 1, L'\0');
    if (!ReadProcessMemory(process, remoteAddress(bufferAddress), text.data(), lengthBytes,
                           nullptr))
        return false;
    commandLine.assign(text.data());
    return true;
}

bool readProcessCommandLine(std::uint32_t processId, std::wstring& commandLine) {
    commandLine.clear();
    if (isSystemProcessId(processId)) return false;
    UniqueHandle process(
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
    if (!process) return false;
    return readCommandLineThrough(process.get(), commandLine);
}

bool findRunningGameProcesses(const std::string& key, std::vector<std::uint32_t>& pids) {
    pids.clear();
    const std::string lowerKey = toLowerAscii(key);
    if (lowerKey.empty()) return false;

    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return false;
    const DWORD ownProcessId = GetCurrentProcessId();

    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    if (!Process32FirstW(snapshot.get(), &entry)) return false;
    do {
        if (!isJavaProcessName(entry.szExeFile) || entry.th32ProcessID == ownProcessId) continue;
        std::wstring commandLine;
        if (!readProcessCommandLine(entry.th32ProcessID, commandLine)) continue;
        if (commandLineHasKey(toUtf8(commandLine), lowerKey)) pids.push_back(entry.th32ProcessID);
    } while (Process32NextW(snapshot.get(), &entry));
    return !pids.empty();
}

bool isRunningCopyOfGame(HANDLE process, const std::string& key) {
    if (WaitForSingleObject(process, 0) != WAIT_TIMEOUT) return false;
    // Room for a long path: a real copy must not be refused for its install folder.
    std::vector<wchar_t> imagePath(kLongPathUnits, L'\0');
    DWORD imagePathLength = kLongPathUnits;
    if (!QueryFullProcessImageNameW(process, 0, imagePath.data(), &imagePathLength)) return false;
    std::wstring commandLine;
    if (!readCommandLineThrough(process, commandLine)) return false;
    return isRunningCopy(imagePath.data(), toUtf8(commandLine), key);
}
