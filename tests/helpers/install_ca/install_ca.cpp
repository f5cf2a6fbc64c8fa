// install_ca.exe FILE.der: trusts a test CA in the prefix's LocalMachine "Root" store.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        fwprintf(stderr, L"usage: install_ca FILE.der\n");
        return 2;
    }
    HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 3;
    std::vector<BYTE> der(GetFileSize(file, nullptr));
    DWORD read = 0;
    const BOOL ok = ReadFile(file, der.data(), static_cast<DWORD>(der.size()), &read, nullptr);
    CloseHandle(file);
    if (!ok || read != der.size()) return 3;

    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                     CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (!store) return 4;
    const BOOL added = CertAddEncodedCertificateToStore(
        store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
        CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    CertCloseStore(store, 0);
    return added ? 0 : 5;
}
