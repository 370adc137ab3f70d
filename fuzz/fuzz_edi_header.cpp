// An edi image's header and information record come from a file the user
// picked; reading them must hold for any bytes: refuse or accept, never read
// outside the record or trust a size the file does not back.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ImageDevice.h"
#include "StorageDevices.h"

namespace {

const std::string& ImagePath() {
    static const std::string path = [] {
        char tmpl[] = "/tmp/velmora-fuzz-edi-XXXXXX";
        const char* dir = mkdtemp(tmpl);
        if (dir == nullptr)
            abort();
        static std::string folder = dir;
        atexit([] {
            unlink((folder + "/image.edi").c_str());
            rmdir(folder.c_str());
        });
        return folder + "/image.edi";
    }();
    return path;
}

bool WriteImage(const uint8_t* data, size_t size) {
    int fd = ::open(ImagePath().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool ok = size == 0 || ::write(fd, data, size) == static_cast<ssize_t>(size);
    ::close(fd);
    return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1 << 16) || !WriteImage(data, size))
        return 0;
    const char* path = ImagePath().c_str();

    CEDIDeviceInfoStruct info;
    std::memset(&info, 0, sizeof(info));
    unsigned int filled = VkFillEdiFileInfo(&info, path);

    std::unique_ptr<IStorageDevice> dev(CreateEdiDevice(path));
    if ((filled == 0) != (dev != nullptr))
        abort();
    if (dev) {
        // An accepted image describes sectors that lie inside the file.
        const long long ssz = dev->GetSectorSize();
        const long long total = dev->GetTotalSectors();
        if (static_cast<CEdiDevice*>(dev.get())->GetDataOffset() + total * ssz >
            static_cast<long long>(size))
            abort();
        std::vector<uint8_t> buf(static_cast<size_t>(ssz) * 2);
        if (total > 0 && !dev->ReadSector(buf.data(), total - 1, 1))
            abort();
        dev->ReadSector(buf.data(), total, 2);

        std::unique_ptr<IStorageDevice> again(CreateEdiDeviceByEdiInfo(&info, sizeof(info), path));
        if (!again)
            abort();
    }
    if (size >= sizeof(CEDIDeviceInfoStruct)) {
        std::unique_ptr<IStorageDevice> saved(CreateEdiDeviceByEdiInfo(
            const_cast<uint8_t*>(data), static_cast<int>(sizeof(CEDIDeviceInfoStruct)), path));
    }
    return 0;
}
