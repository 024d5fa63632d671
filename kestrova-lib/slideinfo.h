// One element of the playlist's slide list: a slide document name and the registry
// indexes its builds take, in order.
#pragma once

#include <QString>

#include <vector>

struct SlideInfo {
    QString name;
    std::vector<int> predicates;
};
