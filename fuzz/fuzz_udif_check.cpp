// A disk-image file the user opens is checked before it becomes a device:
// whatever its trailer, property list and block tables claim, the check
// refuses or accepts without reading outside what the file holds, and an
// accepted image's sectors lie inside the file.
// Seeds: tests/fixtures/images/make_udif.py OUT --sectors 8 --kind
// raw|zero|mishcount, and --sectors 16 --kind zlib.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "DmgImageCheck.h"
#include "StorageDevices.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1 << 17))
        return 0;
    // The chunk tables alone, as one "blkx" element would carry them.
    ParseChunkEntry({std::vector<uint8_t>(data, data + size)});

    const int fd = memfd_create("udif", MFD_CLOEXEC);
    if (fd < 0)
        return 0;
    if (size > 0 && ::write(fd, data, size) != static_cast<ssize_t>(size)) {
        ::close(fd);
        return 0;
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    CDMGDeviceInfoStruct record;
    if (InitDmgRecord(path.c_str(), record) && ParseDmgFile(path.c_str(), record) == 1) {
        if (record.totalSectors > size / 512 + 1 || record.fileSize != static_cast<int64_t>(size))
            abort();
        std::unique_ptr<IStorageDevice> device(CreateDmgDevice(path.c_str(), &record));
        std::vector<uint8_t> sector(512);
        if (device && record.totalSectors > 0 && record.totalSectors <= size / 512 &&
            !device->ReadSector(sector.data(), static_cast<long long>(record.totalSectors) - 1, 1))
            abort();
    }
    ::close(fd);
    return 0;
}
