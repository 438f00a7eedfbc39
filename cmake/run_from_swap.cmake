# Logon scripts start profile-sync and the importer from a share (NETLOGON).
# With these COFF Characteristics bits Windows copies the image to the page
# file at load, so a network drop mid-run (or a removable drive pulled, for a
# copy started from one) cannot end the run with an in-page error. GNU ld
# has no switch for them, and lld's MinGW driver only passes link.exe's
# /swaprun through, so all three builds set them after the link, here. The
# PE check reads these names too.
set(IMAGE_FILE_REMOVABLE_RUN_FROM_SWAP 0x0400)
set(IMAGE_FILE_NET_RUN_FROM_SWAP 0x0800)
set(PE_CHARACTERISTICS_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/pe-characteristics.sh)

# Marks TARGET's executable as run from swap once it is linked: in the link
# step itself, so no file is ever left unmarked, and before release.sh signs.
function(run_from_swap target)
  math(EXPR mask "${IMAGE_FILE_REMOVABLE_RUN_FROM_SWAP} | ${IMAGE_FILE_NET_RUN_FROM_SWAP}"
    OUTPUT_FORMAT HEXADECIMAL)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${PE_CHARACTERISTICS_SCRIPT} ${mask} $<TARGET_FILE:${target}> VERBATIM)
  # A change to the script links the program again, and so marks it again.
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${PE_CHARACTERISTICS_SCRIPT})
endfunction()
