// The document texts an analyser finds inside a carved document (office
// summary, core properties, PDF information) and names the file by.
#pragma once

#include <string>

struct FileProperty {
    std::string title;
    std::string producer;    // PDF only
    std::string creator;     // the author of an office document
    std::string lastAuthor;  // the last to save an office document; a PDF's author
    std::string created;     // date texts, "2015-06-01-10-20-30" or "2015-06-01 10-20-30"
    std::string modified;

    bool Empty() const {
        return title.empty() && producer.empty() && creator.empty() && lastAuthor.empty() &&
               created.empty() && modified.empty();
    }
};
