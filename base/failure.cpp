#include "base/failure.h"

QString describe(const std::exception &failure)
{
    if (const auto *refusal = dynamic_cast<const Failure *>(&failure))
        return refusal->description();
    return QString::fromLocal8Bit(failure.what());
}
