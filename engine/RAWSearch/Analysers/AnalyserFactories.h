// The factories the registry table calls: one per analyser class that is
// built. A row whose analyser is not built yet has a null factory.
#pragma once

class IRawFileAnalyser;

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
