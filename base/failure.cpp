#include "base/failure.h"

#include <cstring>

QString describe(const std::exception &failure)
{
    if (const auto *refusal = dynamic_cast<const Failure *>(&failure))
        return refusal->description();
    return QString::fromLocal8Bit(failure.what());
}

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}
