// The PostgreSQL backend of the store's database (libpqxx).
#include "store/database.h"

namespace workbench {

std::unique_ptr<database> open_postgresql(const std::string& url);

std::unique_ptr<database> open_postgresql(const std::string& url) {
    (void)url;
    throw database_error("this build has no PostgreSQL stores");
}

}  // namespace workbench
