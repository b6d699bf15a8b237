# shellcheck shell=bash disable=SC2034  # (the lists are for the scripts that source this file)
# The Debian packages of the project, in one place: the scripts source this file.
#
# Installed with apt-get, each as PACKAGE:FILE, the file showing that it is there; by what
# needs them: the installer's build (scripts/try), the sample CD and the virtual machine,
# the tests and their tools (scripts/test, which needs all three).
needed_build=(cmake:/usr/bin/cmake g++:/usr/bin/g++ make:/usr/bin/make)
needed_vm=(
    qemu-system-x86:/usr/bin/qemu-system-x86_64 isolinux:/usr/lib/ISOLINUX/isolinux.bin
    syslinux-common:/usr/lib/syslinux/modules/bios/ldlinux.c32 busybox-static:/bin/busybox
    cpio:/usr/bin/cpio xorriso:/usr/bin/xorriso e2fsprogs:/usr/sbin/mke2fs zstd:/usr/bin/zstd
    mtools:/usr/bin/mformat
    # GRUB's grub-mkimage (unpacked, for the boot floppy) loads it; a minimal Debian lacks it.
    libdevmapper1.02.1:/lib/x86_64-linux-gnu/libdevmapper.so.1.02.1
)
needed_test=(
    pkg-config:/usr/bin/pkg-config binutils:/usr/bin/nm libgtest-dev:/usr/include/gtest/gtest.h
    libgmock-dev:/usr/include/gmock/gmock.h libbenchmark-dev:/usr/include/benchmark/benchmark.h
    libvterm-dev:/usr/include/vterm.h zlib1g-dev:/usr/include/zlib.h
    console-setup-linux:/usr/share/consolefonts/Lat15-VGA16.psf.gz
    util-linux:/usr/sbin/losetup mount:/usr/bin/mount coreutils:/usr/bin/df
    groff-base:/usr/bin/groff man-db:/usr/bin/man clang:/usr/bin/clang++ shellcheck:/usr/bin/shellcheck
    libclang-rt-14-dev:/usr/lib/llvm-14/lib/clang/14.0.6/lib/linux/libclang_rt.fuzzer-x86_64.a
)

# Fetched with apt-get download and unpacked into a folder of the download cache, never
# installed: the kernel (scripts/fetch-kernel, which follows linux-image-amd64 to the real
# package), GRUB for the boot floppy, Debian's signed shim and GRUB for the image's UEFI boot,
# sbverify where sbsigntool is not installed, the UEFI PC's firmware, and the VM test's keyword
# spotter with its English model and the libraries it loads.
fetched_kernel=(linux-image-amd64)
fetched_grub_pc=(grub-pc-bin grub-common)
fetched_efi_signed=(shim-signed grub-efi-amd64-signed)
fetched_sbsigntool=(sbsigntool)
fetched_ovmf=(ovmf)
# The speech entry's part of the live system (scripts/live/make-initramfs speech): the screen
# reader's daemon with eSpeak NG and ALSA, the libraries they load down to the C library (eSpeak
# NG's audio library links PulseAudio's, which in turn needs its whole chain).
fetched_speech=(
    espeakup libespeak-ng1 espeak-ng-data libpcaudio0 libsonic0 libasound2 libasound2-data libc6
    libpulse0 libsndfile1 libasyncns0 libflac12 libogg0 libvorbis0a libvorbisenc2 libopus0
    libmpg123-0 libmp3lame0 libdbus-1-3 libx11-6 libx11-xcb1 libxcb1 libxau6 libxdmcp6 libsystemd0
    libgcrypt20 libgpg-error0 liblz4-1 liblzma5 libzstd1 libcap2 libbsd0 libmd0 libgcc-s1
)
fetched_pocketsphinx=(pocketsphinx libpocketsphinx3 libsphinxbase3 pocketsphinx-en-us libblas3 liblapack3
                      libgfortran5 libquadmath0 libpulse0 libsndfile1 libasyncns0 libflac12 libogg0 libvorbis0a
                      libvorbisenc2 libopus0 libmpg123-0 libmp3lame0)

# The download cache: one per user, for every checkout and build folder.
zuva_cache=${ZUVA_CACHE:-${XDG_CACHE_HOME:-${HOME:-$(cd ~ && pwd)}/.cache}/zuva}

# The packages of PACKAGE:FILE entries whose file is missing.
missing_packages() {
    local entry
    for entry in "$@"; do
        [ -e "${entry#*:}" ] || printf '%s\n' "${entry%%:*}"
    done
}
