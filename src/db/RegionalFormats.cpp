#include "db/RegionalFormats.h"

RegionalFormats RegionalFormats::Fixed() {
  return RegionalFormats{QStringLiteral("mm/dd/yyyy"), QStringLiteral("/"), QStringLiteral(":"),
                         QStringLiteral("AM"), QStringLiteral("PM")};
}
