// Puts of a grid of values into Pinbus's properties, made by a compiled client under Wine (a
// Winelib program), so that every text and double is converted by the platform's own oleaut32
// inside the Wine build of the control. number_grid.py writes the grid, the same puts for ocxhost,
// and compares the two answers line for line.
//
//   pinbus_numbers.exe GRID
//       GRID (a Unix path, UTF-8): one put a line, "PROPERTY<TAB>BSTR|R8|SETUP<TAB>VALUE". For
//       each put: the property put of VALUE as a VT_BSTR, or as the VT_R8 the C library reads
//       from it, then a get of the property; prints "PROPERTY<TAB>TYPE<TAB>VALUE<TAB>PUT<TAB>GET"
//       with PUT "S_OK" or the HRESULT (0x8002000A) and GET as ocxhost prints a variant
//       ("VT_I4 888"). SETUP puts are made as VT_I4 and print nothing.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "portctl/pinbus_identity.h"

namespace {

std::string Hresult(HRESULT hr) {
    if (hr == S_OK) return "S_OK";
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

std::string Shown(const VARIANT& v) {
    char text[64];
    switch (V_VT(&v)) {
        case VT_I2:
            std::snprintf(text, sizeof text, "VT_I2 %d", V_I2(&v));
            return text;
        case VT_I4:
            std::snprintf(text, sizeof text, "VT_I4 %ld", static_cast<long>(V_I4(&v)));
            return text;
        default:
            std::snprintf(text, sizeof text, "VT %d", V_VT(&v));
            return text;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: pinbus_numbers.exe GRID\n");
        return 2;
    }
    FILE* grid = std::fopen(argv[1], "r");
    if (!grid) {
        std::perror(argv[1]);
        return 1;
    }
    if (FAILED(CoInitialize(nullptr))) return 1;
    IDispatch* object = nullptr;
    const HRESULT created = CoCreateInstance(CLSID_Pinbus, nullptr, CLSCTX_INPROC_SERVER,
                                             IID_IDispatch, reinterpret_cast<void**>(&object));
    if (FAILED(created)) {
        std::printf("CoCreateInstance: %s\n", Hresult(created).c_str());
        return 1;
    }
    char line[4096];
    int status = 0;
    while (std::fgets(line, sizeof line, grid)) {
        std::string text(line);
        if (!text.empty() && text.back() == '\n') text.pop_back();
        const std::size_t tab1 = text.find('\t');
        const std::size_t tab2 = tab1 == std::string::npos ? tab1 : text.find('\t', tab1 + 1);
        if (tab2 == std::string::npos) {
            std::printf("a line of the grid without two tabs: %s\n", text.c_str());
            status = 1;
            break;
        }
        const std::string property = text.substr(0, tab1);
        const std::string type = text.substr(tab1 + 1, tab2 - tab1 - 1);
        const std::string value = text.substr(tab2 + 1);

        WCHAR name[64];
        MultiByteToWideChar(CP_UTF8, 0, property.c_str(), -1, name, 64);
        LPOLESTR names[] = {name};
        DISPID id = 0;
        HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        if (FAILED(hr)) {
            std::printf("GetIDsOfNames %s: %s\n", property.c_str(), Hresult(hr).c_str());
            status = 1;
            break;
        }
        VARIANT arg;
        VariantInit(&arg);
        if (type == "BSTR") {
            const int wide = MultiByteToWideChar(CP_UTF8, 0, value.data(),
                                                 static_cast<int>(value.size()), nullptr, 0);
            V_VT(&arg) = VT_BSTR;
            V_BSTR(&arg) = SysAllocStringLen(nullptr, wide);
            MultiByteToWideChar(CP_UTF8, 0, value.data(), static_cast<int>(value.size()),
                                V_BSTR(&arg), wide);
        } else if (type == "R8") {
            V_VT(&arg) = VT_R8;
            V_R8(&arg) = std::strtod(value.c_str(), nullptr);
        } else {
            V_VT(&arg) = VT_I4;
            V_I4(&arg) = std::strtol(value.c_str(), nullptr, 10);
        }
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS params{&arg, &named, 1, 1};
        const HRESULT put = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT,
                                           &params, nullptr, nullptr, nullptr);
        VariantClear(&arg);
        if (type == "SETUP") continue;
        VARIANT got;
        VariantInit(&got);
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        const HRESULT get = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET,
                                           &none, &got, nullptr, nullptr);
        std::printf("%s\t%s\t%s\t%s\t%s\n", property.c_str(), type.c_str(), value.c_str(),
                    Hresult(put).c_str(), get == S_OK ? Shown(got).c_str() : Hresult(get).c_str());
        VariantClear(&got);
    }
    std::fclose(grid);
    object->Release();
    CoUninitialize();
    return status;
}
