// The factories the registry table calls: one per analyser class that is
// built. A row whose analyser is not built yet has a null factory.
#pragma once

class IRawFileAnalyser;

// Defines the factory `Name` that the registry's table (AnalyserTable.cpp)
// names for the analyser class `Class`.
#define VK_RAW_ANALYSER_FACTORY(Name, Class) \
    IRawFileAnalyser* Name() {               \
        return new Class();                  \
    }                                        \
    static_assert(true, "")

IRawFileAnalyser* NewJpegAnalyzer();
IRawFileAnalyser* NewFileICNSAnalyser();
IRawFileAnalyser* NewFileAUAnalyser();
IRawFileAnalyser* NewFileBMPAnalyser();
IRawFileAnalyser* NewFileCABAnalyser();
IRawFileAnalyser* NewFileCHMAnalyser();
IRawFileAnalyser* NewFileEMFAnalyser();
IRawFileAnalyser* NewFileCPTAnalyser();
IRawFileAnalyser* NewFileHLPAnalyser();
IRawFileAnalyser* NewFileICOAnalyser();
IRawFileAnalyser* NewFileLowDocAnalyser();
IRawFileAnalyser* NewFileMNYAnalyser();
IRawFileAnalyser* NewFileOLEAnalyser();
IRawFileAnalyser* NewFileZIPAnalyser();
IRawFileAnalyser* NewTiffAnalyzer();
IRawFileAnalyser* NewPSAFE3Analyser();
IRawFileAnalyser* NewSIBAnalyser();
IRawFileAnalyser* NewJKSAnalyser();
IRawFileAnalyser* NewGZAnalyzer();
IRawFileAnalyser* NewDbxAnalyser();
IRawFileAnalyser* NewMOBIAnalyser();
IRawFileAnalyser* NewRTFAnalyser();
IRawFileAnalyser* NewHTMLAnalyser();
IRawFileAnalyser* NewFileUnicodeHTMAnalyser();
IRawFileAnalyser* NewRARAnalyser();
IRawFileAnalyser* NewTARAnalyser();
IRawFileAnalyser* NewSITAnalyser();
IRawFileAnalyser* NewLZHAnalyser();
IRawFileAnalyser* NewDMGAnalyser();
IRawFileAnalyser* NewPNGAnalyser();
IRawFileAnalyser* NewOneAnalyser();
IRawFileAnalyser* NewCMDBAnalyser();
IRawFileAnalyser* NewPSPAnalyser();
IRawFileAnalyser* NewPSDAnalyser();
IRawFileAnalyser* NewWpgAnalyser();
IRawFileAnalyser* NewInddAnalyser();
IRawFileAnalyser* NewCGifAnalyser();
IRawFileAnalyser* NewFileSWFAnalyser();
IRawFileAnalyser* NewFileTTFAnalyser();
IRawFileAnalyser* NewFileWMFAnalyser();
IRawFileAnalyser* NewFileWPDAnalyser();
IRawFileAnalyser* NewFilePSTAnalyser();
IRawFileAnalyser* NewFileITLAnalyser();
IRawFileAnalyser* NewFileMboxAnalyser();
IRawFileAnalyser* NewCFCPEvtAnalyser();
IRawFileAnalyser* NewNew3DSAnalyser();
IRawFileAnalyser* NewFilePKGAnalyser();
IRawFileAnalyser* NewPdfAnalyzer();
IRawFileAnalyser* NewCEPSAnalyser();
IRawFileAnalyser* NewCFH11Analyser();
IRawFileAnalyser* NewCDXFAnalyser();
IRawFileAnalyser* NewSVGAnalyser();
IRawFileAnalyser* NewX3FAnalyser();
IRawFileAnalyser* NewFileMRWAnalyser();
IRawFileAnalyser* NewMovAnalyzer();
IRawFileAnalyser* NewMp4Analyzer();
IRawFileAnalyser* NewC3GPAnalyser();
IRawFileAnalyser* NewMP3Analyzer();
IRawFileAnalyser* NewMPGAnalyser();
IRawFileAnalyser* NewOGGAnalyser();
IRawFileAnalyser* NewFLVAnalyser();
IRawFileAnalyser* NewRM_RMVBAnalyser();
IRawFileAnalyser* NewCAsfAnalyser();
IRawFileAnalyser* NewCM2TSAnalyser();
IRawFileAnalyser* NewCADTSAnalyser();
IRawFileAnalyser* NewCAPEAnalyser();
IRawFileAnalyser* NewMIDAnalyser();
IRawFileAnalyser* NewMLvAnalyser();
IRawFileAnalyser* NewMxfAnalyser();
IRawFileAnalyser* NewFileMKVAnalyser();
IRawFileAnalyser* NewCFileAIFAnalyzer();
IRawFileAnalyser* NewFileRIFFAnalyser();
IRawFileAnalyser* NewCRWAnalyser();
IRawFileAnalyser* NewAEPAnalyser();
IRawFileAnalyser* NewNGRRAnalyser();
IRawFileAnalyser* NewCDWGAnalyser();
