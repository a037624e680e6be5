# Run by CPack on the staged files before it packs them: folders created while installing get
# the builder's umask (0700 under umask 077); a package's folders are 0755 whoever builds it.
file(GLOB_RECURSE _entries LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(_entry "${CPACK_TEMPORARY_DIRECTORY}" ${_entries})
    if(IS_DIRECTORY "${_entry}" AND NOT IS_SYMLINK "${_entry}")
        file(CHMOD "${_entry}" DIRECTORY_PERMISSIONS
            OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    endif()
endforeach()
