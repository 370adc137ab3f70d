#include "VKUIThumbnail.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

#include "FileNode.h"
#include "RecoveryOutput.h"
#include "Utility/CatchExeception.h"
#include "VKUIController.h"
#include "VKUIFilter.h"
#include "VKUIPublic.h"
#include "VKUIRecovery.h"
#include "platform/UserFiles.h"

namespace velmora::bridge {

namespace {

std::mutex g_thumbnailerMutex;

std::shared_ptr<IThumbnailer>& Thumbnailer() {
    static auto* installed = new std::shared_ptr<IThumbnailer>();
    return *installed;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// From the last dot on, lowercased ("" when there is none).
std::string DottedExtension(const std::string& text) {
    const size_t dot = text.rfind('.');
    return dot == std::string::npos ? std::string() : Lower(text.substr(dot));
}

// The extension of a file name without its dot, as the icons are looked up
// by (nothing for a name that only starts with a dot).
std::string NameExtension(IFileNode* node) {
    const char* name = node->GetFileName();
    const std::string text = name != nullptr ? name : "";
    const size_t slash = text.rfind('/');
    const std::string last = slash == std::string::npos ? text : text.substr(slash + 1);
    const size_t dot = last.rfind('.');
    return dot == std::string::npos || dot == 0 ? std::string() : Lower(last.substr(dot + 1));
}

ThumbnailImage Icon(const std::string& extension) {
    std::shared_ptr<IThumbnailer> t = CurrentThumbnailer();
    return t ? t->IconForExtension(extension) : ThumbnailImage{};
}

// What a picture is made from, read from the node under the scan's tree
// lock: the tree builder may change a shown node (its name with a copy's
// properties, its size and runs with a copy's) while pictures load.
struct NodeFacts {
    unsigned category = 0;
    // The dotted extension of the node's tree path and of its own name.
    std::string pathExtension;
    std::string nameExtension;
    // The extension the icons are looked up by (NameExtension).
    std::string iconExtension;
    long long size = 0;
};

NodeFacts FactsOf(IFileNode* node, IRecoveryFilter* filter) {
    NodeFacts facts;
    const std::unique_lock<std::mutex> tree = VKUIRecovery::LockScanTree();
    facts.category = filter != nullptr ? filter->GetNodeFileType(node) : 0;
    facts.pathExtension = DottedExtension(VKUIPublic::GetPathByFileNode(node));
    const char* name = node->GetFileName();
    facts.nameExtension = DottedExtension(name != nullptr ? name : "");
    facts.iconExtension = NameExtension(node);
    facts.size = node->GetFileSize();
    return facts;
}

// Selects the node on the recovery object for the calling thread: the node's
// runs are copied under the scan's tree lock, and the data read without it.
IFileReader* SelectNode(IDataRecovery* recovery, IFileNode* node) {
    const std::unique_lock<std::mutex> tree = VKUIRecovery::LockScanTree();
    return recovery->SetRecoverNode(node);
}

ThumbnailImage IconOfPath(const NodeFacts& facts) {
    const std::string& ext = facts.pathExtension;
    return Icon(ext.empty() ? ext : ext.substr(1));
}

// The data-recovery object that reads the node: the deep scan's object of
// its searcher type, or the one a quick scan keeps for its root.
IDataRecovery* DataRecoveryFor(IFileNode* node) {
    IRecoveryScanSource* scan = VKUIRecovery::ScanSource();
    IRecoveryController* controller = scan != nullptr ? scan->GetRecoveryController() : nullptr;
    if (controller == nullptr)
        return nullptr;
    if (controller->thisType() != 0)
        return VKUIRecovery::instance().GetDataRecoveryByType(
            VKCPPPublic::instance().GetNodeSearcheType(node));
    return scan->GetFileNodeDataRecover(node);
}

// The private folder of the process's temporary files, made once with
// mkdtemp (mode 0700): nobody else can place anything in it.
std::string& PrivateTempFolderPath() {
    static auto* folder = new std::string();
    return *folder;
}

std::string PrivateTempFolder() {
    static std::mutex mutex;
    std::string* folder = &PrivateTempFolderPath();
    std::lock_guard<std::mutex> hold(mutex);
    if (folder->empty()) {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base == '/' ? base : "/tmp") +
                              "/velmora-thumbnails-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) {
            *folder = pattern;
            // Every thumbnail file is removed after use: only the empty
            // folder is left to take away.
            std::atexit([] { ::rmdir(PrivateTempFolderPath().c_str()); });
        }
    }
    return *folder;
}

// Writes at most `limit` bytes of the node to a new temporary file and
// hands it to the thumbnailer; the file is removed whatever happened.
// The scanned device, open while a thumbnail reads it.
std::shared_ptr<void> HoldDevice() {
    IRecoveryScanSource* scan = VKUIRecovery::ScanSource();
    return scan != nullptr ? scan->HoldScannedDevice() : nullptr;
}

ThumbnailImage ThumbnailThroughFile(IFileNode* node, const NodeFacts& facts, long long limit,
                                    bool logFailure) {
    const std::shared_ptr<void> device = HoldDevice();
    IDataRecovery* recovery = DataRecoveryFor(node);
    if (recovery == nullptr)
        return {};
    IFileReader* reader = SelectNode(recovery, node);
    if (reader == nullptr)
        return {};
    const std::string path = MakeThumbnailTempFile(facts.nameExtension);
    VKRESULT result = 1;
    if (!path.empty()) {
        // The name is kept in the private folder (nobody else can enter
        // it) and made again by the recovery, which makes only new files;
        // the file is the program's own, not the user's.
        ::unlink(path.c_str());
        velmora::platform::AsProcessOwner own;
        result = recovery->RecoverTo(path.c_str(), nullptr, static_cast<int>(limit));
    }
    reader->Release();
    if (result != 0 && logFailure)
        CatchExeception::WriteLog("----Recovery Failed----\n");
    ThumbnailImage image;
    if (result == 0)
        image = VKUIController::getVideoThumbFromPath(path);
    if (!path.empty())
        ::unlink(path.c_str());
    return image;
}

std::mutex& PictureLock() {
    static auto* lock = new std::mutex();
    return *lock;
}

// The one limit on what picture loading holds at once. A share is taken
// before a picture's bytes are allocated and given back when they are
// freed; a load waits (hearing its stop) while others hold too much.
class PictureMemory {
public:
    // False when `stopped` answered true before the share could be taken.
    static bool Take(long long bytes, const std::function<bool()>& stopped) {
        std::unique_lock<std::mutex> hold(Lock());
        while (InUseLocked() + bytes > kPictureMemoryLimit) {
            if (stopped && stopped())
                return false;
            Freed().wait_for(hold, std::chrono::milliseconds(20));
        }
        InUseLocked() += bytes;
        return true;
    }
    static void Give(long long bytes) {
        {
            std::lock_guard<std::mutex> hold(Lock());
            InUseLocked() -= bytes;
        }
        Freed().notify_all();
    }
    static long long InUse() {
        std::lock_guard<std::mutex> hold(Lock());
        return InUseLocked();
    }

private:
    static std::mutex& Lock() {
        static auto* lock = new std::mutex();
        return *lock;
    }
    static std::condition_variable& Freed() {
        static auto* freed = new std::condition_variable();
        return *freed;
    }
    static long long& InUseLocked() {
        static long long inUse = 0;
        return inUse;
    }
};

// A share of the limit, given back when it goes.
class PictureShare {
public:
    PictureShare(long long bytes, const std::function<bool()>& stopped)
        : bytes_(PictureMemory::Take(bytes, stopped) ? bytes : -1) {}
    ~PictureShare() {
        if (bytes_ >= 0)
            PictureMemory::Give(bytes_);
    }
    PictureShare(const PictureShare&) = delete;
    PictureShare& operator=(const PictureShare&) = delete;
    bool Held() const { return bytes_ >= 0; }

private:
    long long bytes_;
};

std::mutex& MovieLock() {
    static auto* lock = new std::mutex();
    return *lock;
}

ThumbnailImage Decode(const char* data, size_t size) {
    std::shared_ptr<IThumbnailer> t = CurrentThumbnailer();
    return t && size > 0 ? t->DecodePicture(data, size) : ThumbnailImage{};
}

// The picture of a node read through its data-recovery object: the
// embedded preview first, the whole file when there is none or it does not
// decode.
ThumbnailImage DecodePictureOf(IFileNode* node, long long size) {
    const std::shared_ptr<void> device = HoldDevice();
    IDataRecovery* recovery = DataRecoveryFor(node);
    if (recovery == nullptr)
        return {};
    IFileReader* reader = SelectNode(recovery, node);
    if (reader == nullptr)
        return {};
    ThumbnailImage image;
    {
        std::lock_guard<std::mutex> hold(PictureLock());
        // The buffer lives only while the picture is decoded, inside the
        // shared limit.
        const PictureShare share(size, nullptr);
        std::vector<char> buffer(static_cast<size_t>(size));
        const unsigned bytes = static_cast<unsigned>(size);
        int n = recovery->ReadSmallJPG(buffer.data(), bytes);
        const bool preview = n > 0;
        if (!preview)
            n = static_cast<int>(reader->ReadData(0, buffer.data(), bytes, nullptr));
        image = Decode(buffer.data(), static_cast<size_t>(std::max(n, 0)));
        if (image.Empty() && preview) {
            n = static_cast<int>(reader->ReadData(0, buffer.data(), bytes, nullptr));
            image = Decode(buffer.data(), static_cast<size_t>(std::max(n, 0)));
        }
    }
    reader->Release();
    return image;
}

}  // namespace

void InstallThumbnailer(std::shared_ptr<IThumbnailer> thumbnailer) {
    std::lock_guard<std::mutex> hold(g_thumbnailerMutex);
    Thumbnailer() = std::move(thumbnailer);
}

std::shared_ptr<IThumbnailer> CurrentThumbnailer() {
    std::lock_guard<std::mutex> hold(g_thumbnailerMutex);
    return Thumbnailer();
}

long long MovieThumbnailBytes(const std::string& extension, long long size) {
    if (extension == ".avi")
        return size <= kMaxWholeAviBytes ? size : kMovieThumbnailBytes;
    if (extension == ".mov" || extension == ".m4v" || extension == ".mp4")
        return size < kMovieThumbnailBytes ? size : kMovieThumbnailBytes;
    return 0;
}

std::vector<uint8_t> ReadPictureBytes(IFileNode* node, const std::function<bool()>& stopped) {
    IRecoveryFilter* filter = VKUIFilter::instance().GetFilter();
    if (node == nullptr || filter == nullptr)
        return {};
    const NodeFacts facts = FactsOf(node, filter);
    if (facts.category != CATEGORY_PICTURE)
        return {};
    const long long size = facts.size;
    if (size <= 0 || size > kMaxDecodedPictureBytes)
        return {};
    const std::shared_ptr<void> device = HoldDevice();
    IDataRecovery* recovery = DataRecoveryFor(node);
    IFileReader* reader = recovery != nullptr ? SelectNode(recovery, node) : nullptr;
    if (reader == nullptr)
        return {};
    // The bytes are held inside the shared limit while they are read.
    const PictureShare share(size, stopped);
    if (!share.Held()) {
        reader->Release();
        return {};
    }
    constexpr long long kPiece = 1 << 20;
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    long long done = 0;
    while (done < size) {
        if (stopped && stopped()) {
            done = 0;
            break;
        }
        const auto want = static_cast<unsigned>(std::min(kPiece, size - done));
        const unsigned got =
            reader->ReadData(done, reinterpret_cast<char*>(bytes.data() + done), want, nullptr);
        if (got == 0 || got > want)
            break;
        done += got;
    }
    reader->Release();
    bytes.resize(static_cast<size_t>(done));
    return bytes;
}

long long PictureMemoryInUse() {
    return PictureMemory::InUse();
}

std::string MakeThumbnailTempFile(const std::string& extension) {
    const std::string folder = PrivateTempFolder();
    if (folder.empty())
        return {};
    // Only a short, plain extension survives from the disk's name.
    std::string ext;
    if (extension.size() > 1 && extension.size() <= 8 && extension[0] == '.' &&
        std::all_of(extension.begin() + 1, extension.end(),
                    [](unsigned char c) { return std::isalnum(c) != 0; }))
        ext = extension;
    std::string path = folder + "/thumbnail-XXXXXX" + ext;
    const int fd = ::mkstemps(path.data(), static_cast<int>(ext.size()));
    if (fd < 0)
        return {};
    ::close(fd);
    return path;
}

}  // namespace velmora::bridge

using velmora::bridge::ThumbnailImage;

ThumbnailImage VKUIController::GetImageByFileNode(IFileNode* node) {
    IRecoveryFilter* filter = VKUIFilter::instance().GetFilter();
    if (node == nullptr || filter == nullptr)
        return {};
    VKUIRecovery& recovery = VKUIRecovery::instance();
    IRecoveryScanSource* scan = VKUIRecovery::ScanSource();
    // Only the objects are prepared here: a recovery may be running, and its
    // counts are its own.
    if (recovery.CheckWhetherNeedReset() != 0 && scan != nullptr && scan->IsDeepScan() != 0)
        recovery.InitDataRecoveryController();
    const velmora::bridge::NodeFacts facts = velmora::bridge::FactsOf(node, filter);
    const unsigned category = facts.category;
    if (category == CATEGORY_MOVIE)
        return GetVideoThumb(node);
    const std::string& ext = facts.pathExtension;
    if (ext.empty())
        return velmora::bridge::Icon(facts.iconExtension);
    for (const char* raw : {".rw2", ".sr2", ".cr2", ".dng", ".dcr"}) {
        if (ext == raw)
            return GetRawPicThumb(node);
    }
    if (ext == ".arw" || ext == ".psd") {
        ThumbnailImage image = GetRawPicThumb(node);
        if (!image.Empty())
            return image;
    }
    const long long size = facts.size;
    if (category == CATEGORY_PICTURE && size > 0 &&
        size <= velmora::bridge::kMaxDecodedPictureBytes) {
        ThumbnailImage image = velmora::bridge::DecodePictureOf(node, size);
        if (!image.Empty())
            return image;
    }
    return velmora::bridge::Icon(facts.iconExtension);
}

ThumbnailImage VKUIController::GetImageByNode(const OpNodeData& node) {
    return GetImageByFileNode(node.fileNode());
}

ThumbnailImage VKUIController::getVideoThumbFromPath(const std::string& path) {
    std::shared_ptr<velmora::bridge::IThumbnailer> t = velmora::bridge::CurrentThumbnailer();
    return t ? t->ThumbnailOfFile(path) : ThumbnailImage{};
}

ThumbnailImage VKUIController::GetRawPicThumb(IFileNode* node) {
    if (node == nullptr)
        return {};
    const velmora::bridge::NodeFacts facts =
        velmora::bridge::FactsOf(node, VKUIFilter::instance().GetFilter());
    const long long size = facts.size;
    ThumbnailImage image;
    if (size > 0 && size <= velmora::bridge::kMaxDecodedPictureBytes)
        image = velmora::bridge::ThumbnailThroughFile(node, facts, size, false);
    return image.Empty() ? velmora::bridge::IconOfPath(facts) : image;
}

ThumbnailImage VKUIController::GetVideoThumb(IFileNode* node) {
    if (node == nullptr)
        return {};
    const velmora::bridge::NodeFacts facts =
        velmora::bridge::FactsOf(node, VKUIFilter::instance().GetFilter());
    std::lock_guard<std::mutex> hold(velmora::bridge::MovieLock());
    const std::string& ext = facts.pathExtension;
    if (ext.empty())
        return {};
    const long long bytes = velmora::bridge::MovieThumbnailBytes(ext, facts.size);
    if (bytes > 0) {
        ThumbnailImage image = velmora::bridge::ThumbnailThroughFile(node, facts, bytes, true);
        if (!image.Empty())
            return image;
    }
    return velmora::bridge::IconOfPath(facts);
}
