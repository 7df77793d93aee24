! Prints free-format test vectors with list-directed output (print *).
!
! Every vector is two output lines: a key line that gives the input exactly,
! then the line that print * writes for it.  gen.sh turns them into the data
! files next to this folder.  Key lines:
!   D <16 hex digits>   a double, by its bit pattern
!   S <8 hex digits>    a single-precision value, by its bit pattern
!   I <decimal>         a 32-bit integer
!   J <decimal>         a 64-bit integer
!   L <items>           a mixed line; items are separated by ';' and are
!                       t:<text>, i:<32-bit>, j:<64-bit>, d:<hex16>, s:<hex8>,
!                       l:T or l:F
module vec
  use, intrinsic :: iso_fortran_env, only: int32, int64, real32, real64
  use, intrinsic :: ieee_arithmetic
  implicit none
  character(len=:), allocatable :: items
  integer(int64) :: state = 88172645463325252_int64
contains
  subroutine dbl(d)
    real(real64), intent(in) :: d
    write (*, '(a,z16.16)') 'D ', transfer(d, 0_int64)
    print *, d
  end subroutine

  subroutine sgl(s)
    real(real32), intent(in) :: s
    write (*, '(a,z8.8)') 'S ', transfer(s, 0_int32)
    print *, s
  end subroutine

  subroutine i32(v)
    integer(int32), intent(in) :: v
    write (*, '(a,i0)') 'I ', v
    print *, v
  end subroutine

  subroutine i64(v)
    integer(int64), intent(in) :: v
    write (*, '(a,i0)') 'J ', v
    print *, v
  end subroutine

  ! Builders of the key of a mixed line.
  subroutine add(item)
    character(len=*), intent(in) :: item
    if (.not. allocated(items)) items = ''
    if (len(items) > 0) items = items // ';'
    items = items // item
  end subroutine
  subroutine it(t)
    character(len=*), intent(in) :: t
    call add('t:' // t)
  end subroutine
  subroutine ii(v)
    integer(int32), intent(in) :: v
    character(len=16) :: b
    write (b, '(i0)') v
    call add('i:' // trim(b))
  end subroutine
  subroutine ij(v)
    integer(int64), intent(in) :: v
    character(len=24) :: b
    write (b, '(i0)') v
    call add('j:' // trim(b))
  end subroutine
  subroutine id(v)
    real(real64), intent(in) :: v
    character(len=16) :: b
    write (b, '(z16.16)') transfer(v, 0_int64)
    call add('d:' // b)
  end subroutine
  subroutine is(v)
    real(real32), intent(in) :: v
    character(len=8) :: b
    write (b, '(z8.8)') transfer(v, 0_int32)
    call add('s:' // b)
  end subroutine
  subroutine il(v)
    logical, intent(in) :: v
    if (v) then
      call add('l:T')
    else
      call add('l:F')
    end if
  end subroutine
  ! Writes the key; the caller's print * follows at once.
  subroutine key()
    write (*, '(a)') 'L ' // items
    items = ''
  end subroutine

  ! xorshift64: a fixed, portable sequence of bit patterns.
  integer(int64) function next_bits()
    state = ieor(state, ishft(state, 13))
    state = ieor(state, ishft(state, -7))
    state = ieor(state, ishft(state, 17))
    next_bits = state
  end function

  real(real64) function dec(text)
    character(len=*), intent(in) :: text
    read (text, *) dec
  end function
  real(real32) function decs(text)
    character(len=*), intent(in) :: text
    read (text, *) decs
  end function
end module

program vectors
  use vec
  implicit none
  real(real64) :: d, p
  real(real32) :: s, q
  integer(int64) :: b
  integer(int32) :: b4
  integer :: k, n
  character(len=16) :: txt

  ! ---------------------------------------------------------------- doubles
  call dbl(0d0)
  call dbl(-0d0)
  call dbl(ieee_value(d, ieee_quiet_nan))
  call dbl(transfer(-2251799813685248_int64, 1d0))   ! NaN with the sign bit
  call dbl(transfer(9218868437227405313_int64, 1d0))  ! signalling NaN
  call dbl(ieee_value(d, ieee_positive_inf))
  call dbl(ieee_value(d, ieee_negative_inf))
  ! The lower end of the fixed form.
  d = 0.1d0
  call dbl(d); call dbl(-d); call dbl(nearest(d, 1d0))
  do k = 1, 4
    d = nearest(d, -1d0)
    call dbl(d)
  end do
  call dbl(-nearest(0.1d0, -1d0))
  call dbl(dec('0.09999999999999999'))
  call dbl(dec('0.099999999999999999'))
  call dbl(dec('0.0999999999999999999999'))
  ! The upper end of the fixed form.
  d = 1d17
  call dbl(d); call dbl(-d); call dbl(nearest(d, 1d0))
  do k = 1, 3
    d = nearest(d, -1d0)
    call dbl(d)
  end do
  call dbl(-nearest(1d17, -1d0))
  call dbl(dec('99999999999999999'))
  call dbl(dec('99999999999999999.9'))
  call dbl(1d16); call dbl(nearest(1d16, -1d0)); call dbl(nearest(1d16, 1d0))
  call dbl(dec('12345678901234567'))
  call dbl(dec('123456789012345678'))
  ! Around one: rounding to 17 digits next to a new leading digit.
  call dbl(1d0); call dbl(-1d0)
  call dbl(dec('0.99999999999999994')); call dbl(nearest(1d0, -1d0))
  call dbl(nearest(nearest(1d0, -1d0), -1d0))
  call dbl(dec('0.99999999999999999')); call dbl(nearest(1d0, 1d0))
  call dbl(dec('9.9999999999999999')); call dbl(nearest(10d0, -1d0))
  ! Powers of ten and their neighbours.
  do k = -12, 24
    write (txt, '(a,i0)') '1e', k
    p = dec(trim(txt))
    call dbl(nearest(p, -1d0)); call dbl(p); call dbl(nearest(p, 1d0))
  end do
  do k = -300, 300, 100
    write (txt, '(a,i0)') '1e', k
    call dbl(dec(trim(txt)))
  end do
  call dbl(1d308); call dbl(1d-307); call dbl(-1d-100); call dbl(-1d100)
  ! Extremes and subnormals.
  call dbl(huge(d)); call dbl(-huge(d)); call dbl(nearest(huge(d), -1d0))
  call dbl(tiny(d)); call dbl(-tiny(d)); call dbl(nearest(tiny(d), 1d0))
  call dbl(transfer(1_int64, 1d0)); call dbl(transfer(2_int64, 1d0))
  call dbl(-transfer(3_int64, 1d0))
  call dbl(transfer(4503599627370495_int64, 1d0))   ! largest subnormal
  call dbl(transfer(2251799813685248_int64, 1d0))   ! 2**-1023
  call dbl(transfer(123456789_int64, 1d0))
  call dbl(epsilon(d)); call dbl(-3.4028234663852886d38); call dbl(3.1415927410125732d0)
  ! Exact ties at the 18th significant digit (round half to even).
  call dbl(1.00000762939453125d0); call dbl(1.00003814697265625d0)
  call dbl(1.00006866455078125d0)
  call dbl(0.100009918212890625d0); call dbl(0.100025177001953125d0)
  call dbl(0.0100040435791015625d0); call dbl(0.0100116729736328125d0)
  call dbl(1000.00006103515625d0); call dbl(-1000.00030517578125d0)
  ! Decimals that look halfway, and everyday values.
  call dbl(0.5d0); call dbl(0.25d0); call dbl(0.125d0); call dbl(2.5d0)
  call dbl(0.15d0); call dbl(0.35d0); call dbl(1.5d0); call dbl(0.05d0)
  call dbl(1.05d0); call dbl(2.675d0); call dbl(1.005d0); call dbl(0.3d0)
  call dbl(0.1d0 + 0.2d0); call dbl(1.0000000000000005d0); call dbl(-7.5d-3)
  call dbl(45d0); call dbl(-30d0); call dbl(123.456d0); call dbl(1d0 / 3d0)
  call dbl(2d0 / 3d0); call dbl(-1d0 / 7d0); call dbl(sqrt(2d0))
  call dbl(12.5d0); call dbl(1234567.125d0); call dbl(9007199254740993d0)
  ! Random bit patterns over all exponents.
  n = 0
  do while (n < 70)
    b = next_bits()
    if (ibits(b, 52, 11) == 2047) cycle
    call dbl(transfer(b, 1d0))
    n = n + 1
  end do
  ! Random values in and around the fixed range (2**-5 to 2**58).
  do n = 1, 70
    b = next_bits()
    k = int(mod(ibits(b, 52, 11), 63_int64)) - 5
    b = ior(ibits(b, 0, 52), ishft(int(1023 + k, int64), 52)) &
        + merge(ishft(1_int64, 63), 0_int64, btest(b, 63))
    call dbl(transfer(b, 1d0))
  end do

  ! ---------------------------------------------------------------- singles
  call sgl(0.0); call sgl(-0.0)
  call sgl(ieee_value(s, ieee_quiet_nan))
  call sgl(transfer(-4194304_int32, 1.0))   ! NaN with the sign bit
  call sgl(ieee_value(s, ieee_positive_inf))
  call sgl(ieee_value(s, ieee_negative_inf))
  s = 0.1
  call sgl(s); call sgl(-s); call sgl(nearest(s, 1.0))
  do k = 1, 3
    s = nearest(s, -1.0)
    call sgl(s)
  end do
  call sgl(decs('0.099999999'))
  s = 1e9
  call sgl(s); call sgl(-s); call sgl(nearest(s, 1.0))
  do k = 1, 3
    s = nearest(s, -1.0)
    call sgl(s)
  end do
  call sgl(-nearest(1e9, -1.0)); call sgl(decs('999999999'))
  call sgl(1e8); call sgl(nearest(1e8, -1.0)); call sgl(123456789.0)
  call sgl(1.0); call sgl(-1.0); call sgl(nearest(1.0, -1.0)); call sgl(nearest(1.0, 1.0))
  call sgl(decs('0.99999999')); call sgl(nearest(10.0, -1.0))
  do k = -8, 12
    write (txt, '(a,i0)') '1e', k
    q = decs(trim(txt))
    call sgl(nearest(q, -1.0)); call sgl(q); call sgl(nearest(q, 1.0))
  end do
  call sgl(1e38); call sgl(1e-38); call sgl(-1e20); call sgl(1e-20)
  call sgl(huge(s)); call sgl(-huge(s)); call sgl(nearest(huge(s), -1.0))
  call sgl(tiny(s)); call sgl(-tiny(s))
  call sgl(transfer(1_int32, 1.0)); call sgl(-transfer(2_int32, 1.0))
  call sgl(transfer(8388607_int32, 1.0))   ! largest subnormal
  call sgl(epsilon(s))
  ! Exact ties at the 10th significant digit.
  call sgl(1.001953125); call sgl(1.009765625); call sgl(0.1025390625)
  call sgl(0.1064453125); call sgl(0.01025390625); call sgl(-0.01220703125)
  call sgl(250.001953125)
  call sgl(0.5); call sgl(0.25); call sgl(2.5); call sgl(0.15); call sgl(0.35)
  call sgl(1.5); call sgl(0.05); call sgl(2.675); call sgl(0.3); call sgl(45.0)
  call sgl(-30.0); call sgl(1.0 / 3.0); call sgl(3.14159274); call sgl(16777217.0)
  n = 0
  do while (n < 45)
    b = next_bits()
    if (ibits(b, 23, 8) == 255) cycle
    b4 = int(ior(ibits(b, 0, 23), ishft(ibits(b, 23, 8), 23)), int32)
    if (btest(b, 31)) b4 = ibset(b4, 31)
    call sgl(transfer(b4, 1.0))
    n = n + 1
  end do
  do n = 1, 45
    b = next_bits()
    k = int(mod(ibits(b, 23, 8), 37_int64)) - 5
    b4 = int(ior(ibits(b, 0, 23), ishft(int(127 + k, int64), 23)), int32)
    if (btest(b, 31)) b4 = ibset(b4, 31)
    call sgl(transfer(b4, 1.0))
  end do

  ! ---------------------------------------------------------------- integers
  call i32(0); call i32(1); call i32(-1); call i32(9); call i32(-10)
  call i32(99999); call i32(123456789); call i32(1000000000); call i32(-1000000000)
  call i32(huge(1_int32)); call i32(-huge(1_int32)); call i32(-huge(1_int32) - 1)
  call i64(0_int64); call i64(1_int64); call i64(-1_int64); call i64(9_int64)
  call i64(2147483648_int64); call i64(-2147483649_int64)
  call i64(1000000000000000000_int64); call i64(-999999999999999999_int64)
  call i64(huge(1_int64)); call i64(-huge(1_int64)); call i64(-huge(1_int64) - 1)

  ! ---------------------------------------------------------------- lines
  call it('Ran '); call ij(5_int64); call it(' models in '); call ii(0); call it(' seconds.')
  call key(); print *, 'Ran ', 5_int64, ' models in ', 0, ' seconds.'
  call it('Ran '); call ij(1000_int64); call it(' models in '); call id(12.5d0)
  call it(' seconds.')
  call key(); print *, 'Ran ', 1000_int64, ' models in ', 12.5d0, ' seconds.'
  call it('Reading '); call ii(2); call it(' beds')
  call key(); print *, 'Reading ', 2, ' beds'
  call it('Read '); call ii(3); call it(' dips')
  call key(); print *, 'Read ', 3, ' dips'
  call it('Enter y intercepts of all '); call ii(3); call it(' beds in order')
  call key(); print *, 'Enter y intercepts of all ', 3, ' beds in order'
  call it('ran model'); call ij(9_int64); call it(' of '); call ij(9_int64)
  call key(); print *, 'ran model', 9_int64, ' of ', 9_int64
  call ij(9_int64); call it('models will be run.')
  call key(); print *, 9_int64, 'models will be run.'
  call it('Starting '); call ii(2); call it(' threads')
  call key(); print *, 'Starting ', 2, ' threads'
  call it('Finished')
  call key(); print *, 'Finished'
  ! A results line: a score followed by the parameter vector.
  call id(12.345678901234567d0); call id(-1.5d0); call id(0.001d0); call id(250d0)
  call id(1d20); call id(-0.25d0); call id(ieee_value(d, ieee_quiet_nan))
  call key()
  print *, 12.345678901234567d0, -1.5d0, 0.001d0, 250d0, 1d20, -0.25d0, &
           ieee_value(d, ieee_quiet_nan)
  call id(-3.4028234663852886d38); call id(3.1415927410125732d0); call id(0d0)
  call key(); print *, -3.4028234663852886d38, 3.1415927410125732d0, 0d0
  ! Texts next to texts are joined; every other pair is separated.
  call it('a'); call it('b'); call it('c')
  call key(); print *, 'a', 'b', 'c'
  call it('Error: '); call it('matrix'); call ii(4); call it('not positive definite')
  call key(); print *, 'Error: ', 'matrix', 4, 'not positive definite'
  call ii(1); call it(''); call ii(2)
  call key(); print *, 1, '', 2
  call key(); print *
  call it('a'); call it(''); call it('b')
  call key(); print *, 'a', '', 'b'
  call it('')
  call key(); print *, ''
  call il(.true.); call il(.false.); call it('x'); call il(.true.)
  call key(); print *, .true., .false., 'x', .true.
  call is(1.5); call id(2.5d0); call it('x'); call ii(3)
  call key(); print *, 1.5, 2.5d0, 'x', 3
  call ii(-2147483647 - 1); call ij(-huge(1_int64) - 1); call is(-1e-20); call id(-1d-200)
  call key(); print *, -2147483647 - 1, -huge(1_int64) - 1, -1e-20, -1d-200
  call it(' lead and trail '); call id(0.1d0); call it('  ')
  call key(); print *, ' lead and trail ', 0.1d0, '  '
  call is(ieee_value(s, ieee_negative_inf)); call il(.false.); call ij(0_int64)
  call key(); print *, ieee_value(s, ieee_negative_inf), .false., 0_int64
end program
