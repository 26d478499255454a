#pragma once
// The core's text as Qt shows it.

#include <QString>

#include "core/text.hpp"

namespace umbrascope {

[[nodiscard]] inline QString qtext(const Text& text)
{
    return QString::fromUcs4(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace umbrascope
