#include "TiffCamera.h"

#include "RawFileInfo.h"

namespace tiff_camera {

std::string FieldText(const uint8_t* data, size_t length) {
    std::string text;
    for (size_t i = 0; i < length && i < kMaxTextBytes && data[i] != 0; ++i)
        text.push_back(static_cast<char>(data[i]));
    return text;
}

std::string CleanMake(const std::string& raw) {
    std::string make = raw;
    for (char& c : make) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    make = ApiStrFilterBadFileName(make);
    if (make.size() > kMaxMakeBytes || ApiIsInvalidCharInFileName(make) != 0)
        return {};
    return make;
}

std::string CleanModel(const std::string& raw) {
    if (raw.size() > kMaxModelBytes)
        return {};
    std::string model = ApiStrFilterBadFileName(raw);
    if (ApiIsInvalidCharInFileName(model) != 0)
        return {};
    return model;
}

RAW_FILE_TYPE RawTypeFromMaker(const std::string& make, const std::string& model, bool dng,
                               bool iiu) {
    auto has = [](const std::string& text, const char* part) {
        return text.find(part) != std::string::npos;
    };
    if (dng)
        return RAW_DNG;
    if (has(make, "NIKON"))
        return RAW_NEF;
    if (has(make, "CANON"))
        return RAW_CR2;
    if (has(make, "SONY"))
        return has(model, "DSC-R1") ? RAW_SR2 : RAW_ARW;
    if (has(make, "PANASONIC"))
        return !iiu || has(model, "DMC-") ? RAW_RW2 : RAW_RAWIMG;
    if (has(make, "LEICA"))
        return iiu ? RAW_RAWIMG : -1;
    if (has(make, "KODAK"))
        return has(model, "DCS Pro SLR") ? RAW_DCR : RAW_KDC;
    if (has(make, "EPSON"))
        return RAW_ERF;
    if (has(make, "HASSELBLAD"))
        return RAW_3FR;
    if (has(make, "MAMIYA"))
        return RAW_MEF;
    if (has(make, "PENTAX"))
        return RAW_PEF;
    if (has(make, "SAMSUNG"))
        return RAW_SRW;
    if (has(make, "OLYMPUS"))
        return RAW_ORF;
    return -1;
}

}  // namespace tiff_camera
