// src/common/ReasonText.cpp: errno values as the reasons the program's messages give.
#include "common/ReasonText.h"

#include <cerrno>
#include <system_error>

namespace zeloro {

std::string ReasonText(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            return "keine Berechtigung";
        case EROFS:
            return "das Dateisystem ist schreibgeschützt";
        case ENOENT:
            return "nicht vorhanden";
        case ENOSPC:
        case EDQUOT:
            return "kein Platz auf dem Datenträger";
        case EIO:
            return "Ein-/Ausgabefehler";
        case ENOTDIR:
            return "ein Teil des Pfades ist kein Ordner";
        default:
            return std::error_code(error, std::generic_category()).message();
    }
}

}  // namespace zeloro
