# profile-publish: every user's master written from one list. Its portable
# core, over the importer's format table and parser, which the unit tests take too.
add_library(publish_core STATIC publish/account.cpp publish/command_line.cpp publish/folder_acl.cpp publish/history.cpp
  publish/master_store.cpp publish/master_text.cpp
  publish/plan.cpp publish/run_publish.cpp publish/users_csv.cpp)
target_link_libraries(publish_core PUBLIC profile_core sync_core PRIVATE product_options)
