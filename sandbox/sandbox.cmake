# The private machine every test and simulator run uses (kvn-sandbox).
set(KVN_SANDBOX ${CMAKE_CURRENT_LIST_DIR}/kvn-sandbox)
# How a test program runs: inside the sandbox, with the source tree shared
# read-only and the build tree writable wherever they are (a checkout under
# /tmp too, whose host folder is otherwise hidden by the private /tmp).
set(KVN_SANDBOX_RUN ${KVN_SANDBOX} --ro-bind ${PROJECT_SOURCE_DIR} --bind ${PROJECT_BINARY_DIR} --)
# How a test program of this build runs: the same, through the emulator of a
# cross build (cmake/cross-sysroot.cmake) when there is one.  Scripts run by
# KVN_SANDBOX_RUN find the emulator in KVN_EMULATOR, for the programs of the
# build that they start.
set(KVN_SANDBOX_EXEC ${KVN_SANDBOX_RUN})
set(KVN_EMULATOR_ENV "")  # a command's prefix that hands the emulator to a script
if(CMAKE_CROSSCOMPILING_EMULATOR)
  list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " KVN_EMULATOR_WORDS)
  set(KVN_EMULATOR_ENV env "KVN_EMULATOR=${KVN_EMULATOR_WORDS}")
  set(KVN_SANDBOX_RUN ${KVN_SANDBOX} --ro-bind ${PROJECT_SOURCE_DIR} --bind ${PROJECT_BINARY_DIR}
    --ro-bind ${KVN_SYSROOT} -- ${KVN_EMULATOR_ENV})
  set(KVN_SANDBOX_EXEC ${KVN_SANDBOX_RUN} ${CMAKE_CROSSCOMPILING_EMULATOR})
endif()

# Installed beside korvan-sim; it finds its fake in libexec.
install(PROGRAMS ${CMAKE_CURRENT_LIST_DIR}/kvn-sandbox
  DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT sim)
install(PROGRAMS ${CMAKE_CURRENT_LIST_DIR}/fakes/fake-program
  DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/korvan_framework_lib COMPONENT sim)

if(BUILD_TESTING)
  # Runs outside the sandbox on purpose: it starts the sandbox from system
  # folders inside a throw-away namespace and checks the host is untouched.
  add_test(NAME Sandbox.HostUntouched
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/check-host-untouched ${PROJECT_BINARY_DIR})
  set_tests_properties(Sandbox.HostUntouched PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
  # Outside it too, as any user: every spelling of a system folder refused.
  add_test(NAME Sandbox.Folders COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/check-folders ${KVN_SANDBOX})
  # And with the real one, as any user: the caller's terminal input, the
  # host's sockets and FIFOs out of reach.
  add_test(NAME Sandbox.Reach COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/check-reach ${KVN_SANDBOX})
  set_tests_properties(Sandbox.Folders Sandbox.Reach PROPERTIES TIMEOUT 120)
endif()
