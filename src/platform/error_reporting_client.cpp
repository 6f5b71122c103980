#include "platform/error_reporting_client.h"

namespace tovalo {

const char* reportLevelName(ReportLevel level) {
    switch (level) {
        case ReportLevel::debug:
            return "debug";
        case ReportLevel::info:
            return "info";
        case ReportLevel::warning:
            return "warning";
        case ReportLevel::error:
            return "error";
        case ReportLevel::fatal:
            return "fatal";
    }
    return "error";
}

}  // namespace tovalo
