// Where the audio and video formats keep the fields their analysers read.
// Offsets count from the start of the structure named by the namespace;
// fields are big-endian unless the name says LE.
#pragma once

#include <cstddef>
#include <cstdint>

namespace iso_layout {            // ISO base media / QuickTime box
constexpr size_t kSize = 0;       // 32 bits; 1: a 64-bit size follows the type
constexpr size_t kType = 4;       // four characters
constexpr size_t kLargeSize = 8;  // 64 bits, when kSize is 1
constexpr size_t kHeaderBytes = 8;
constexpr size_t kLargeHeaderBytes = 16;
// "ftyp" box
constexpr size_t kMajorBrand = 8;
constexpr size_t kMinorVersion = 12;
constexpr size_t kCompatibleBrands = 16;  // 4-byte entries to the box's end
constexpr size_t kBrandBytes = 4;
constexpr uint32_t kMinFtyp = 16;
constexpr uint32_t kMaxFtyp = 83;
// The box after a 24-byte "ftyp": where its type stands.
constexpr size_t kTrailerType = 28;
}  // namespace iso_layout

namespace tiff_layout {           // the TIFF header and directory of an EXIF block
constexpr size_t kByteOrder = 0;  // "II" or "MM"
constexpr size_t kFirstIfd = 4;   // 32 bits
constexpr size_t kEntryCount = 0;
constexpr size_t kEntries = 2;
constexpr size_t kEntryBytes = 12;
constexpr size_t kEntryTag = 0;
constexpr size_t kEntryType = 2;
constexpr size_t kEntryCount32 = 4;
constexpr size_t kEntryValue = 8;
constexpr size_t kExifToTiff = 6;  // "Exif" 00 00
}  // namespace tiff_layout

namespace mpa_layout {  // MPEG audio frame header, four bytes
constexpr size_t kHeaderBytes = 4;
constexpr size_t kXingOffset = 36;  // "Xing"/"Info" in an MPEG-1 stereo first frame
constexpr size_t kXingStream = 48;  // 32 bits: bytes of the stream
}  // namespace mpa_layout

namespace id3_layout {
// ID3v2 tag header
constexpr size_t kMagic = 0;    // "ID3"
constexpr size_t kVersion = 3;  // 3 or 4
constexpr size_t kFlags = 5;
constexpr size_t kSize = 6;  // four 7-bit bytes
constexpr size_t kHeaderBytes = 10;
constexpr uint32_t kMaxSize = 0x40000000;
// ID3v2.3/2.4 frame header
constexpr size_t kFrameId = 0;
constexpr size_t kFrameSize = 4;  // 32 bits
constexpr size_t kFrameFlags = 8;
constexpr size_t kFrameHeaderBytes = 10;
// ID3v1 tag at the end of a file
constexpr size_t kV1Bytes = 128;
constexpr size_t kV1Title = 3;
constexpr size_t kV1Artist = 33;
constexpr size_t kV1Year = 93;
constexpr size_t kV1TextBytes = 30;
constexpr size_t kV1YearBytes = 4;
// APE tag footer as it follows MP3 audio
constexpr size_t kApeTagBytes = 260;
}  // namespace id3_layout

namespace mpeg_ps_layout {       // MPEG program stream
constexpr size_t kPackWord = 4;  // 32 bits LE after the start code: the clock's first bytes
constexpr size_t kPackHeader1 = 12;
constexpr size_t kPackHeader2 = 14;
constexpr size_t kPacketLength = 4;  // 16 bits after a start code
constexpr size_t kPacketHeader = 6;
}  // namespace mpeg_ps_layout

namespace ogg_layout {
constexpr size_t kCapture = 0;  // "OggS"
constexpr size_t kSegments = 26;
constexpr size_t kLacing = 27;
constexpr size_t kHeaderBytes = 27;
}  // namespace ogg_layout

namespace flv_layout {
constexpr size_t kVersion = 3;
constexpr size_t kFirstPrevious = 9;  // 32 bits, 0
constexpr size_t kFirstTag = 9;
// at each step: previous-tag size, then the tag header
constexpr size_t kPreviousSize = 0;  // 32 bits
constexpr size_t kTagType = 4;
constexpr size_t kTagDataSize = 5;  // 24 bits
constexpr size_t kStepHeader = 15;  // previous size + 11-byte tag header
constexpr uint32_t kTagHeaderBytes = 11;
}  // namespace flv_layout

namespace asf_layout {
constexpr size_t kGuid = 0;
constexpr size_t kObjectSize = 16;  // 64 bits LE
constexpr size_t kObjectHeader = 24;
constexpr size_t kHeaderFirstChild = 30;
constexpr size_t kStreamType = 24;  // GUID inside a stream-properties object
}  // namespace asf_layout

namespace adts_layout {
constexpr size_t kHeaderBytes = 7;
constexpr size_t kLength = 3;  // 13 bits across bytes 3 to 5
}  // namespace adts_layout

namespace mkv_layout {
constexpr size_t kHeaderSize = 4;  // EBML variable-length size of the EBML header
constexpr uint32_t kSegmentId = 0x18538067;
constexpr size_t kMaxSegmentOffset = 512;
}  // namespace mkv_layout

namespace aiff_layout {
constexpr size_t kFormLength = 4;  // 32 bits: bytes after this field
constexpr size_t kForm = 8;        // "AIFF" or "AIFC"
constexpr uint32_t kFormHeader = 8;
}  // namespace aiff_layout

namespace riff_layout {
constexpr size_t kLengthLE = 4;  // 32 bits: bytes after this field
constexpr size_t kForm = 8;
constexpr size_t kFirstChunk = 12;
constexpr uint32_t kHeader = 8;
}  // namespace riff_layout

namespace rm_layout {  // RealMedia chunks
constexpr size_t kId = 0;
constexpr size_t kSize = 4;  // 32 bits
constexpr size_t kChunkHeader = 8;
constexpr size_t kIndexVersion = 8;  // 16 bits
constexpr size_t kIndexCount = 10;   // 32 bits
constexpr size_t kIndexNext = 16;    // 32 bits, file offset of the next index chunk
constexpr uint32_t kIndexEntryBytes = 14;
constexpr size_t kProbeBytes = 1024;
constexpr size_t kVideoProbe = 160;
constexpr size_t kEmptyIndexBytes = 20;
}  // namespace rm_layout

namespace m2ts_layout {
constexpr uint8_t kSync = 0x47;
constexpr uint32_t kPacket = 188;
constexpr uint32_t kSourcePacket = 192;  // a 4-byte time code before each packet
}  // namespace m2ts_layout

namespace mid_stream_layout {
constexpr size_t kFirstChunk = 14;
constexpr size_t kChunkLength = 4;  // 32 bits
constexpr uint32_t kChunkHeader = 8;
}  // namespace mid_stream_layout

namespace ape_layout {          // Monkey's Audio, little-endian
constexpr size_t kVersion = 4;  // 16 bits
constexpr uint16_t kNewForm = 3980;
// old form
constexpr size_t kOldFlags = 8;
constexpr size_t kOldChannels = 10;
constexpr size_t kOldWavHeader = 16;
constexpr size_t kOldTotalFrames = 24;
constexpr size_t kOldOptional = 32;
constexpr uint32_t kOldWavHeaderBytes = 44;
// new form: the descriptor
constexpr size_t kDescriptorBytes = 8;
constexpr size_t kHeaderBytes = 12;
constexpr size_t kSeekTableBytes = 16;
constexpr size_t kWavHeaderBytes = 20;
constexpr size_t kFrameDataBytes = 24;  // 64 bits
constexpr size_t kTerminatingBytes = 32;
// the header after the descriptor
constexpr size_t kBitsPerSample = 16;
constexpr size_t kChannels = 18;
// APE tag footer
constexpr size_t kTagSize = 12;
constexpr size_t kTagItems = 16;
constexpr size_t kTagFlags = 20;
constexpr uint32_t kTagFooterBytes = 32;
}  // namespace ape_layout

namespace mlv_layout {  // Magic Lantern video blocks, little-endian
constexpr size_t kType = 0;
constexpr size_t kLength = 4;  // 32 bits, the block's whole length
constexpr size_t kRawInfo = 52;
constexpr uint32_t kTypeBytes = 4;
constexpr uint32_t kHeaderBytes = 8;
}  // namespace mlv_layout

namespace mxf_layout {      // SMPTE KLV packets
constexpr size_t kKey = 0;  // 06 0E 2B 34
constexpr size_t kPartitionKind = 4;
constexpr size_t kPartitionVersion = 20;  // 16 bits
constexpr size_t kThisPartition = 28;     // 64 bits: the partition's own offset
constexpr size_t kLength = 17;            // 24 bits after the length's 0x83 byte
constexpr uint32_t kPacketHeader = 20;
}  // namespace mxf_layout
