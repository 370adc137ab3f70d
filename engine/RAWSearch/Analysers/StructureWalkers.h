// Formats sized by walking their own structure while the search streams
// their sectors past: PNG chunks, OneNote sections, Jet and ACE database
// pages, GIF blocks, Paint Shop Pro blocks, Photoshop sections, InDesign
// objects; and WordPerfect graphics, ended by the zero fill after them. The
// walkers that can give up hand their candidate to the whole-file analyser
// of their format, which reads the same structure from the device.
// Declarations only: each format's code is in its own file (PngAnalyser.cpp,
// OneAnalyser.cpp, MdbAnalyser.cpp, PspAnalyser.cpp, PsdAnalyser.cpp,
// WpgAnalyser.cpp, InddAnalyser.cpp, GifAnalyser.cpp).
#pragma once

#include "Carver.h"
#include "RawFileInfo.h"
#include "StreamWalk.h"
#include "WholeFileAnalysers.h"

class FilePNGAnalyser : public IRawFileAnalyser {
public:
    FilePNGAnalyser() : IRawFileAnalyser(RAW_PNG) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

class FileONEAnalyser : public IRawFileAnalyser {
public:
    FileONEAnalyser() : IRawFileAnalyser(RAW_ONE) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

class FilePSPAnalyser : public IRawFileAnalyser {
public:
    FilePSPAnalyser() : IRawFileAnalyser(RAW_PSP) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

class FilePSDAnalyser : public IRawFileAnalyser {
public:
    FilePSDAnalyser() : IRawFileAnalyser(RAW_PSD) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

namespace RawSpeed {

class PNGAnalyser : public rawcarve::StreamingCarver<PNGAnalyser, RAW_PNG, FilePNGAnalyser> {
public:
    class PNGRawFileInfo : public rawcarve::StreamingCandidate<PNGAnalyser> {
    public:
        explicit PNGRawFileInfo(PNGAnalyser* owner) : StreamingCandidate(owner, RAW_PNG) {}

    private:
        int Step(const rawwalk::StreamView& view, SearchContext& context) override;
        long long m_next = -1;  // the next chunk
    };

    using Candidate = PNGRawFileInfo;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

class OneAnalyser : public rawcarve::StreamingCarver<OneAnalyser, RAW_ONE, FileONEAnalyser> {
public:
    class ONERawFileInfo : public rawcarve::StreamingCandidate<OneAnalyser> {
    public:
        explicit ONERawFileInfo(OneAnalyser* owner) : StreamingCandidate(owner, RAW_ONE) {}

    private:
        int Step(const rawwalk::StreamView& view, SearchContext& context) override;
        long long m_next = -1;  // the next fragment
    };

    using Candidate = ONERawFileInfo;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    // The length a fragment header gives: at 196, or at 100 when that is 0.
    static unsigned long long FragmentLength(const uint8_t* fragment);
};

class CMDBAnalyser : public rawcarve::StreamingCarver<CMDBAnalyser, RAW_MDB, FileMDBAnalyser> {
public:
    class CMDBRawFileInfo : public rawcarve::StreamingCandidate<CMDBAnalyser> {
    public:
        explicit CMDBRawFileInfo(CMDBAnalyser* owner) : StreamingCandidate(owner, RAW_MDB) {}

    private:
        int Step(const rawwalk::StreamView& view, SearchContext& context) override;

        bool m_pageCheck = true;
        int m_emptyPages = 0;
    };

    using Candidate = CMDBRawFileInfo;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

class PSPAnalyser : public rawcarve::StreamingCarver<PSPAnalyser, RAW_PSP, FilePSPAnalyser> {
public:
    class PSPRawFileInfo : public rawcarve::StreamingCandidate<PSPAnalyser> {
    public:
        explicit PSPRawFileInfo(PSPAnalyser* owner) : StreamingCandidate(owner, RAW_PSP) {}

    private:
        int Step(const rawwalk::StreamView& view, SearchContext& context) override;
        long long m_next = 36;  // the next block
    };

    using Candidate = PSPRawFileInfo;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

class PSDAnalyser : public rawcarve::StreamingCarver<PSDAnalyser, RAW_PSD, FilePSDAnalyser> {
public:
    class PSDRawFileInfo : public rawcarve::StreamingCandidate<PSDAnalyser> {
    public:
        explicit PSDRawFileInfo(PSDAnalyser* owner) : StreamingCandidate(owner, RAW_PSD) {}

    private:
        int Step(const rawwalk::StreamView& view, SearchContext& context) override;
        int m_section = 0;      // 0 colour modes, 1 resources, 2 layers, 3 image data
        long long m_walk = 26;  // the next length word
        long long m_end = -1;   // the end, once the image data gives it
        bool m_guess = false;   // no end from the data: the zero fill decides
        uint16_t m_channels = 0;
        uint32_t m_height = 0;
        uint32_t m_width = 0;
        uint16_t m_depth = 0;
    };

    using Candidate = PSDRawFileInfo;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    // Bytes of raw image data: one row per line of each channel, each row
    // in whole bytes. 0 when the product does not fit.
    static unsigned long long RawImageBytes(uint32_t height, uint16_t channels, uint32_t width,
                                            uint16_t depth);
};

class WpgAnalyser : public IRawFileAnalyser {
public:
    // Candidates are typed WPG; the analyser itself carries the PNG id.
    WpgAnalyser() : IRawFileAnalyser(RAW_PNG) {}
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
};

class InddAnalyser : public IRawFileAnalyser {
public:
    class InddRawFileInfo : public rawcarve::WalkingCandidate {
    public:
        InddRawFileInfo() : WalkingCandidate(RAW_INDD) {}

    private:
        int Step(const rawwalk::StreamView& view, SearchContext& context) override;
        long long m_next = -1;  // the next object
    };

    InddAnalyser() : IRawFileAnalyser(RAW_INDD) {}
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override { return new InddRawFileInfo(); }
};

}  // namespace RawSpeed

namespace BruteForce {

class CGifAnalyser : public IRawFileAnalyser {
public:
    CGifAnalyser() : IRawFileAnalyser(RAW_GIF) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
};

// Walks the blocks of a GIF: extensions and images, each followed by data
// sub-blocks, to the trailer.
class CGifFileInfo : public rawcarve::WalkingCandidate {
public:
    CGifFileInfo() : WalkingCandidate(RAW_GIF) {}

private:
    int Step(const rawwalk::StreamView& view, SearchContext& context) override;
    enum class Expect { Block, SubBlocks };
    long long m_position = -1;
    Expect m_expect = Expect::Block;
};

}  // namespace BruteForce
