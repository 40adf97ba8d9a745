# Run by cpack once it has made the packages (CPACK_POST_BUILD_SCRIPTS), to
# mend what the DEB generator of CMake 3.25 gets wrong for them:
# - it calls ldconfig from postinst and postrm for any library below /usr/lib,
#   though ours are private: found through RUNPATH, never through the cache
#   (our own postinst, which makes the station service's user, goes in instead);
# - the debug symbols package lists absolute build paths in its md5sums, has
#   executable .debug files and no documents.
function(run)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE status ERROR_VARIABLE error)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGV}: ${error}")
  endif()
endfunction()

set(root ${CPACK_TOPLEVEL_DIRECTORY}/mend)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  file(REMOVE_RECURSE ${root})
  run(dpkg-deb --raw-extract ${package} ${root})
  if(package MATCHES "-dbgsym_[^/]*\\.ddeb$")
    file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${root} ${root}/usr/*)
    set(sums "")
    foreach(file IN LISTS files)
      file(CHMOD ${root}/${file} FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
      file(MD5 ${root}/${file} sum)
      string(APPEND sums "${sum}  ${file}\n")
    endforeach()
    file(WRITE ${root}/DEBIAN/md5sums "${sums}")
    # As in Debian's own debug symbols packages: the documents of the package
    # whose symbols these are.
    file(MAKE_DIRECTORY ${root}/usr/share/doc)
    file(CREATE_LINK ${CPACK_PACKAGE_NAME} ${root}/usr/share/doc/${CPACK_PACKAGE_NAME}-dbgsym SYMBOLIC)
  else()
    file(REMOVE ${root}/DEBIAN/postinst ${root}/DEBIAN/postrm)
    # Ours: the station service's system user.
    file(COPY ${CPACK_PELMORA_POSTINST} DESTINATION ${root}/DEBIAN
         FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endif()
  run(dpkg-deb --root-owner-group --build ${root} ${package})
endforeach()
file(REMOVE_RECURSE ${root})
