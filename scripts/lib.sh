# Shared by the scripts. Ninja for a new build folder; an existing one keeps
# the generator it was made with.
generator() {
    [ -f "$1/CMakeCache.txt" ] || echo "-G Ninja"
}
