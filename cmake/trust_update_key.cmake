# cmake -DCONF=<conf.xml> -DPUBLIC_KEY=<key file> -P trust_update_key.cmake
# Makes the client element of CONF name the public key in PUBLIC_KEY as its updateKey.
file(READ "${PUBLIC_KEY}" key)
string(STRIP "${key}" key)
file(READ "${CONF}" conf)
string(REGEX REPLACE " updateKey=\"[^\"]*\"" "" conf "${conf}")
string(REPLACE "<client " "<client updateKey=\"${key}\" " conf "${conf}")
file(WRITE "${CONF}" "${conf}")
