#include "json/UtilHelper.h"

#include "logging/Logging.h"
#include "service/TypeName.h"

namespace Qv::Corvane::Server::Services {

bool UtilHelper::NullChecker(std::initializer_list<NamedPointer> pointers, const WCHAR* clientId) {
    using namespace Qv::Corvane::Logging;
    TraceLogger* logger = LogManager::GetLogger();
    bool anyNull = false;
    for (const NamedPointer& entry : pointers) {
        if (entry.first) continue;
        anyNull = true;
        logger->LogWarning(LoggingData{WIDE("%S.%S - %S cannot be null"), clientId, 0}, TypeName<UtilHelper>(),
                           "NullChecker", entry.second);
    }
    return anyNull;
}

}  // namespace Qv::Corvane::Server::Services
