#pragma once

#include <QByteArray>

#include <pugixml.hpp>

// Whether evaluating the XPath `expression` on the document of `root`, and printing what it
// selects, stays within a fixed budget of work. The bound weighs the profile's size against
// the expression's shape: a shape that meets every node once for each other node passes on a
// small profile and is refused on a large one. False as well for an expression that cannot be
// measured.
bool withinXPathWorkBudget(const pugi::xml_node& root, const QByteArray& expression);
