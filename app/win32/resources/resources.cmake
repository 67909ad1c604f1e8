# The Windows resources of a program: program.rc.in, configured per program,
# with the program's manifest (<target>.manifest) and the icon made by
# scripts/make-icon.
#   sharelink_windows_resources(TARGET DESCRIPTION)

set(_sharelink_resources ${CMAKE_CURRENT_LIST_DIR})

function(sharelink_windows_resources target description)
  set(SHARELINK_RC_NAME ${target})
  set(SHARELINK_RC_DESCRIPTION ${description})
  set(SHARELINK_RC_MANIFEST ${_sharelink_resources}/${target}.manifest)
  set(SHARELINK_RC_ICON ${_sharelink_resources}/sharelink.ico)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  configure_file(${_sharelink_resources}/program.rc.in ${rc} @ONLY)
  # The resource compiler reads these files by name, not by #include, so the
  # build would not see them change.
  set_source_files_properties(${rc} PROPERTIES
    OBJECT_DEPENDS "${SHARELINK_RC_MANIFEST};${SHARELINK_RC_ICON}")
  target_sources(${target} PRIVATE ${rc})
endfunction()
