// Replay of a saved scan result: a scan controller handed one of these
// rebuilds its result trees from the result file instead of reading the
// device. The result-file reader implements it; the controllers only call it.
#pragma once

#include <vector>

class IDirecotryTreeBuilder;
class IProgress;
class IStorageDevice;
class CSearchedPartitionInfo;

class RestoreScanSink {
public:
    virtual ~RestoreScanSink() = default;
    // Replays the nodes stored for this device into the builder, reporting
    // through `progress` and stopping early when its Continued() answers 0.
    // Does nothing for a device the result file does not hold.
    virtual void SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder, IProgress* progress,
                                         IStorageDevice* device) = 0;
    // The partition records stored for one searcher type (an empty list when
    // none were stored). The sink keeps the list and the records.
    virtual std::vector<CSearchedPartitionInfo*>& GetSearchedPartition(int searcherType) = 0;
};
