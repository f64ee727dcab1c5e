! Golden vectors for the Fortran-format interpreter, taken from gfortran itself.
!
! Every case prints its format, its values and, between the lines "=" and
! "@@end@@", exactly what one WRITE statement with that format produces on
! standard output. gen_vectors.sh turns this into vectors.txt. Values are
! printed exactly: integers with I0, reals as the 64-bit pattern of the double
! (TRANSFER to an integer), texts verbatim.
program gen_vectors
  use, intrinsic :: iso_fortran_env, only: int64, real64
  use, intrinsic :: ieee_arithmetic, only: ieee_value, ieee_quiet_nan, &
      ieee_positive_inf, ieee_negative_inf
  implicit none
  integer, parameter :: dp = real64
  integer, parameter :: nrp = 40, nip = 16, ntp = 6
  real(dp) :: rpool(nrp), nan, pinf, ninf
  integer(int64) :: ipool(nip)
  character(len=60) :: tpool(ntp)
  integer :: tlen(ntp)
  integer :: roff = 0, ioff = 0, toff = 0

  nan = ieee_value(0.0_dp, ieee_quiet_nan)
  pinf = ieee_value(0.0_dp, ieee_positive_inf)
  ninf = ieee_value(0.0_dp, ieee_negative_inf)

  ! Ordinary, huge, tiny, negative, zero, non-finite and rounding-tie values.
  rpool = [0.0_dp, -0.0_dp, 1.0_dp, -1.0_dp, 0.5_dp, -0.5_dp, 1234.5678_dp, &
      -98765.4321_dp, 1.0e100_dp, -1.0e-100_dp, 1.0e300_dp, transfer(1_int64, 0.0_dp), huge(1.0_dp), &
      tiny(1.0_dp), nan, pinf, ninf, 0.125_dp, 0.375_dp, 2.5_dp, 99999.995_dp, 1.0e10_dp, &
      123456789.123_dp, -0.001_dp, 0.004999_dp, 9.9999_dp, 0.099995_dp, 1.665109223_dp, &
      3.141592654_dp, real(0.1, dp), real(8.9, dp), real(10.1, dp), -7.25_dp, 1.0e-5_dp, &
      655.36_dp, 1.0e5_dp, 12.345_dp, -1.0e7_dp, 0.05_dp, 123.456_dp]
  ipool = [1_int64, 30_int64, -5_int64, 0_int64, 12345_int64, 99999_int64, 100000_int64, &
      -9999_int64, 7_int64, 65535_int64, -1_int64, 2147483647_int64, 42_int64, 3_int64, &
      -100_int64, 999_int64]
  tpool(1) = 'Spectrum of run 42'
  tlen(1) = 18
  tpool(2) = 'A title that is much longer than forty characters in all'
  tlen(2) = 56
  tpool(3) = ''
  tlen(3) = 0
  tpool(4) = 'exactly forty characters of title text..'
  tlen(4) = 40
  tpool(5) = 'trailing blanks   '
  tlen(5) = 18
  tpool(6) = 'it''s \T20 "quoted"'
  tlen(6) = 18

  ! ---- every format the program prints, verbatim, with values from the pools
  call many("( 3X,'Background Area',                                          3X,F12.2,' +/-',F10.2)", 'rr', 6)
  call many("('   Check=100*(Fit-Total)/Total = ',F7.2,' %')", 'r', 6)
  call many("('   Chisq per data point        = ',F10.2)", 'r', 6)
  call many("('   Chisq per degree of freedom = ',F10.2//)", 'r', 6)
  call many("(' Asymmetric (skew) Gaussian shape ')", '', 1)
  call many("(' Centroids of peaks fixed in search')", '', 1)
  call many("(' Different widths for peaks')", '', 1)
  call many("(' IT =',I5,'  CHISQ =',F12.4,'  L =',                1PE10.2)", 'irr', 6)
  call many("(' Lorentzian peak shape')", '', 1)
  call many("(' Number of background parameters=',I5)", 'i', 6)
  call many("(' Number of peaks=',I5)", 'i', 6)
  call many("(' Search on Centroid guesses')", '', 1)
  call many("(' Single width, Fwhm=',F5.1)", 'r', 6)
  call many("(' Start channel=',I5,'  End Channel=',I5)", 'ii', 6)
  call many("(' Symmetric Gaussian shape ')", '', 1)
  call many("(' Width of peaks fixed in search')", '', 1)
  call many("('A4P')", '', 1)
  call many("('DATA')", '', 1)
  call many("('LINE DOTDASH')", '', 1)
  call many("('LINE DOTTED')", '', 1)
  call many("('LINE OFF')", '', 1)
  call many("('LINE ON')", '', 1)
  call many("('LINE SOLID')", '', 1)
  call many("('LOGY')", '', 1)
  call many("('PICTURE 6 16 18 26')", '', 1)
  call many("('SCALE X ',I4,1X,I4 )", 'ii', 6)
  call many("('SCALE Y ',F10.1,1X,F12.0,1X,F12.0)", 'rrr', 6)
  call many("('SYMBOL OFF')", '', 1)
  call many("('XTEXT 2.5 12.0 \T20 ',A40)", 'a', 6)
  call many("('XTEXT 2.5 13.0 \T20 ',A40)", 'a', 6)
  call many("('XTEXT 3.0 ',F4.1,' \C8',  I3,2X,F7.2, '+/-' ,F7.2,1X,    F10.1, '+/-' ,F9.1 ,   F7.2, '+/-' ,F6.2)", 'rirrrrrr', 8)
  call many("('XTEXT 3.0 ',F4.1,' \C8',45X,F7.2,'+/-',F6.2)", 'rrr', 6)
  call many("('XTEXT 3.0 ',F5.2,' \C8',I3,1X,1PE10.3,'+/-',  E9.3,      I3,1X,E10.3, '+/-' ,E9.3)", 'rirrirr', 8)
  call many("('XTEXT 3.0 10.4 \C8  N  Bakfit(N)   Bakerr(N)',            '  N  Bakfit(N)   Bakerr(N)')", '', 1)
  call many("('XTEXT 3.0 10.7 \C8  Background Area=',F12.1,' +/- ',     F12.1)", 'rr', 6)
  call many("('XTEXT 3.0 11.0 \C8  KORVEL with Gaussians:  Chisq=',     1PE10.3,' per point')", 'r', 6)
  call many("('XTEXT 3.0 11.0 \C8  KORVEL with Lorentzians:  Chisq=',   1PE10.3,' per point')", 'r', 6)
  call many("('XTEXT 3.0 9.2 \C8  ',1X,'N',5X,'Centroid',14X,'Area',14X, 'Fwhm')", '', 1)
  call many("('XTEXT 3.0 9.2 \C8  ',1X,'N',5X,'Centroid',14X,'Area',14X, 'FwhmHi/Lo')", '', 1)
  call many("('XTEXT 3.0 9.2 \C8  ',1X,'N',5X,'Centroid',14X,'Height',  12X,'Fwhm')", '', 1)
  call many("('XTEXT 3.0 9.2 \C8  ',1X,'N',5X,'Centroid',14X,'Height',  12X,'FwhmHi/Lo')", '', 1)
  call many("('XTEXT 9.5  14.5 \T20 Channel Number')", '', 1)
  call many("('YTEXT 3 19 \T20 Counts per Channel')", '', 1)
  call many("(/' KORVEL-Quenmoor University Fast FITting')", '', 1)
  call many("(13X,'Centroid',15X,'Area',18X,'Fwhm ')", '', 1)
  call many("(13X,'Centroid',15X,'Area',18X,'Fwhm '/                     58X,'Fwhmhi'/58X,'Fwhmlo')", '', 1)
  call many("(13X,'Centroid',15X,'Area',18X,'Fwhm'/                             58X,'Fwhmhi'/58X,'Fwhmlo')", '', 1)
  call many("(13X,'Centroid',15X,'Area',18X,'Fwhm'/                       58X,'Fwhmhi'/58X,'Fwhmlo')", '', 1)
  call many("(13X,'Centroid',15X,'Height/Area',11X,'Fwhm ')", '', 1)
  call many("(2F12.2)", 'rr', 6)
  call many("(51X,F10.2,'+/-',F9.2)", 'rr', 6)
  call many("(51X,F9.2,' +/-',F8.2)", 'rr', 6)
  call many("(I3,3(1X,F10.2,' +/-',F8.2))", 'irrrrrr', 8)
  call many("(I3,3(1X,F10.2,'+/-',F8.2)/25X,F11.2,'+/-',F8.2)", 'irrrrrrrr', 8)
  call many("(I3,3(1X,F10.2,'+/-',F9.2 ))", 'irrrrrr', 8)
  call many("(I4,3(1X,F10.2,'+/-',F8.2)/25X,F11.2,'+/-',F8.2)", 'irrrrrrrr', 8)
  call many("(I4,3(1X,F9.2,' +/-',F8.2))", 'irrrrrr', 8)
  call many("('XTEXT 3.0 ',F5.2,' \C8',I3,1X,1PE10.3,'+/-',  E9.3,      I3,1X,E10.3, '+/-' ,E9.3)", 'rirr', 4)

  ! ---- rounding: the exact binary value, ties to even
  call one("(F5.2)", 'r', r=[0.125_dp])
  call one("(F5.2)", 'r', r=[0.375_dp])
  call one("(F5.2)", 'r', r=[-0.125_dp])
  call one("(F5.2)", 'r', r=[2.675_dp])
  call one("(F5.2)", 'r', r=[1.005_dp])
  call one("(F4.0)", 'r', r=[2.5_dp])
  call one("(F4.0)", 'r', r=[3.5_dp])
  call one("(F4.0)", 'r', r=[0.5_dp])
  call one("(F4.0)", 'r', r=[1.5_dp])
  call one("(F6.1)", 'r', r=[0.25_dp])
  call one("(F6.1)", 'r', r=[0.35_dp])
  call one("(E10.2)", 'r', r=[0.125_dp])
  call one("(E10.2)", 'r', r=[0.375_dp])
  call one("(1PE10.2)", 'r', r=[1.125_dp])
  call one("(1PE10.2)", 'r', r=[1.135_dp])
  call one("(1PE9.1)", 'r', r=[2.25_dp])
  call one("(E12.3)", 'r', r=[0.99995_dp])
  call one("(1PE12.3)", 'r', r=[9.9995_dp])
  call one("(1PE12.3)", 'r', r=[9.99951_dp])
  call one("(E12.3)", 'r', r=[9.9996e99_dp])
  call one("(F12.4)", 'r', r=[real(0.1, dp)])
  call one("(F25.20)", 'r', r=[0.1_dp])
  call one("(F30.2)", 'r', r=[1.0e20_dp])
  call one("(F40.10)", 'r', r=[1.0e-5_dp])

  ! ---- a negative value that rounds to zero keeps its sign
  call one("(F5.2)", 'r', r=[-0.001_dp])
  call one("(F5.2)", 'r', r=[-0.0_dp])
  call one("(F5.2)", 'r', r=[-0.004999_dp])
  call one("(F5.2)", 'r', r=[-0.005_dp])
  call one("(F6.0)", 'r', r=[-0.4_dp])
  call one("(F4.1)", 'r', r=[-0.04_dp])
  call one("(F3.1)", 'r', r=[-0.04_dp])
  call one("(E10.3)", 'r', r=[-0.0_dp])
  call one("(1PE10.3)", 'r', r=[-0.0_dp])

  ! ---- short fields
  call one("(F3.2)", 'r', r=[0.5_dp])
  call one("(F4.2)", 'r', r=[-0.5_dp])
  call one("(F4.2)", 'r', r=[0.5_dp])
  call one("(F5.2)", 'r', r=[-0.5_dp])
  call one("(F3.2)", 'r', r=[1.0_dp])
  call one("(F2.1)", 'r', r=[0.04_dp])
  call one("(F2.0)", 'r', r=[0.3_dp])
  call one("(F1.0)", 'r', r=[0.3_dp])
  call one("(F5.0)", 'r', r=[0.3_dp])
  call one("(F5.2)", 'r', r=[-12.345_dp])
  call one("(F6.2)", 'r', r=[-12.345_dp])
  call one("(F5.2)", 'r', r=[99.995_dp])
  call one("(F5.2)", 'r', r=[99.994_dp])
  call one("(F2.2)", 'r', r=[0.5_dp])
  call one("(E9.3)", 'r', r=[0.0_dp])
  call one("(E8.3)", 'r', r=[0.0_dp])
  call one("(E8.3)", 'r', r=[1.0_dp])
  call one("(E9.3)", 'r', r=[-1.0_dp])
  call one("(E8.3)", 'r', r=[-1.0_dp])
  call one("(E10.3)", 'r', r=[-1.0_dp])
  call one("(1PE10.2)", 'r', r=[1.0e100_dp])
  call one("(1PE10.2)", 'r', r=[-1.0e-100_dp])
  call one("(1PE9.2)", 'r', r=[-1.0e-100_dp])
  call one("(1PE8.2)", 'r', r=[1.0e100_dp])
  call one("(1PE7.2)", 'r', r=[1.0e100_dp])
  call one("(E12.3)", 'r', r=[1.0e-310_dp])
  call one("(1PE10.3)", 'r', r=[huge(1.0_dp)])
  call one("(1PE10.3)", 'r', r=[-tiny(1.0_dp)])
  call one("(1PE10.3)", 'r', r=[transfer(1_int64, 0.0_dp)])
  call one("(E10.3)", 'r', r=[1.0e-99_dp])
  call one("(E10.3)", 'r', r=[1.0e99_dp])
  call one("(1PE10.3)", 'r', r=[9.9996e99_dp])
  call one("(I3)", 'i', i=[12345_int64])
  call one("(I3)", 'i', i=[-99_int64])
  call one("(I3)", 'i', i=[-100_int64])
  call one("(I5)", 'i', i=[0_int64])
  call one("(I1)", 'i', i=[-1_int64])
  call one("(I20)", 'i', i=[-huge(1_int64) - 1_int64])
  call one("(I19)", 'i', i=[-huge(1_int64) - 1_int64])
  call one("(I19)", 'i', i=[huge(1_int64)])
  call one("(I0)", 'i', i=[-123_int64])
  call one("(I0)", 'i', i=[0_int64])
  call one("(I5.3)", 'i', i=[7_int64])
  call one("(I5.3)", 'i', i=[-7_int64])
  call one("(I3.0)", 'i', i=[0_int64])
  call one("(I3.3)", 'i', i=[-7_int64])

  ! ---- NaN and infinities in fields of every width
  call one("(F2.1)", 'r', r=[nan])
  call one("(F3.1)", 'r', r=[nan])
  call one("(F8.1)", 'r', r=[nan])
  call one("(E10.3)", 'r', r=[nan])
  call one("(F2.1)", 'r', r=[pinf])
  call one("(F3.1)", 'r', r=[pinf])
  call one("(F7.1)", 'r', r=[pinf])
  call one("(F8.1)", 'r', r=[pinf])
  call one("(F12.1)", 'r', r=[pinf])
  call one("(F3.1)", 'r', r=[ninf])
  call one("(F4.1)", 'r', r=[ninf])
  call one("(F8.1)", 'r', r=[ninf])
  call one("(F9.1)", 'r', r=[ninf])
  call one("(F12.1)", 'r', r=[ninf])
  call one("(1PE10.2)", 'r', r=[pinf])
  call one("(E9.3)", 'r', r=[ninf])
  call one("(1PE10.3,F5.1,E9.2)", 'rrr', r=[nan, pinf, ninf])

  ! ---- scale factors
  call one("(1PE10.3)", 'r', r=[0.0_dp])
  call one("(1PE10.3)", 'r', r=[1.0_dp])
  call one("(1PE10.3)", 'r', r=[-1.0_dp])
  call one("(2PE12.3)", 'r', r=[1234.5_dp])
  call one("(3PE12.3)", 'r', r=[1234.5_dp])
  call one("(-1PE12.3)", 'r', r=[1234.0_dp])
  call one("(-2PE12.3)", 'r', r=[1234.0_dp])
  call one("(0PE12.3)", 'r', r=[1234.0_dp])
  call one("(1P,E10.3)", 'r', r=[31.5_dp])
  call one("(1PE10.2,E10.2)", 'rr', r=[1.5_dp, -2.5e-7_dp])
  call one("(1PF8.2)", 'r', r=[1.5_dp])
  call one("(1PE10.2,F8.2)", 'rr', r=[1.5_dp, 1.5_dp])
  call one("(E10.3,1P,E10.3,0P,E10.3)", 'rrr', r=[5.0_dp, 5.0_dp, 5.0_dp])
  call one("(1P2E10.2)", 'rr', r=[12.0_dp, 0.012_dp])
  call one("(2PF10.3)", 'r', r=[0.12345_dp])
  call one("(-1PF10.3)", 'r', r=[123.45_dp])
  call one("(-2PF10.3)", 'r', r=[0.5_dp])
  call one("(D12.4)", 'r', r=[123.456_dp])
  call one("(1PD12.4)", 'r', r=[-123.456_dp])
  call one("(E12.4E3)", 'r', r=[1.0e5_dp])
  call one("(E12.4E1)", 'r', r=[1.0e5_dp])
  call one("(E12.4E1)", 'r', r=[1.0e25_dp])
  call one("(1PE12.3E4)", 'r', r=[-1.0e-200_dp])

  ! ---- reversion: a new line, again from the last top-level group or the start
  call one("(2F12.2)", 'rrrr', r=[1.0_dp, 2.0_dp, 3.0_dp, 4.0_dp])
  call one("(2F12.2)", 'rrrrr', r=[1.0_dp, 2.0_dp, 3.0_dp, 4.0_dp, 5.0_dp])
  call one("(2I3)", 'iiiii', i=[1_int64, 2_int64, 3_int64, 4_int64, 5_int64])
  call one("(I2,2(I3,F5.1))", 'iiriririr', i=[1_int64, 2_int64, 4_int64, 6_int64, 8_int64], &
      r=[3.0_dp, 5.0_dp, 7.0_dp, 9.0_dp])
  call one("(1PE10.2,2(F6.1))", 'rrrr', r=[1.0_dp, 2.0_dp, 3.0_dp, 4.0_dp])
  call one("(' IT =',I5,'  CHISQ =',F12.4,'  L =',                1PE10.2)", 'irrirr', &
      i=[1_int64, 2_int64], r=[12.5_dp, 1.0e-3_dp, 12.25_dp, 1.0e-4_dp])
  call one("(I3,F6.2)", 'irir', i=[1_int64, 2_int64], r=[1.5_dp, 2.5_dp])
  call one("(2(I3,1X),F6.2)", 'iiriir', i=[1_int64, 2_int64, 3_int64, 4_int64], &
      r=[1.5_dp, 2.5_dp])
  call one("(I2,2(I3),3(I4))", 'iiiiiiiiiii', i=[1_int64, 2_int64, 3_int64, 4_int64, &
      5_int64, 6_int64, 7_int64, 8_int64, 9_int64, 10_int64, 11_int64])
  call one("(I2,2(1X,2(I2)))", 'iiiiiiiiiii', i=[1_int64, 2_int64, 3_int64, 4_int64, &
      5_int64, 6_int64, 7_int64, 8_int64, 9_int64, 10_int64, 11_int64])
  call one("('x',I2,'y')", 'iii', i=[1_int64, 2_int64, 3_int64])
  call one("(I4,3(1X,F9.2,' +/-',F8.2))", 'irrrrrrrrr', i=[1_int64], &
      r=[1.0_dp, 2.0_dp, 3.0_dp, 4.0_dp, 5.0_dp, 6.0_dp, 7.0_dp, 8.0_dp, 9.0_dp])
  call one("(I3,3(1X,F10.2,'+/-',F8.2)/25X,F11.2,'+/-',F8.2)", 'irrrrrrrrrrrrrrrr', &
      i=[1_int64], r=[1.0_dp, 2.0_dp, 3.0_dp, 4.0_dp, 5.0_dp, 6.0_dp, 7.0_dp, &
      8.0_dp, 11.0_dp, 12.0_dp, 13.0_dp, 14.0_dp, 15.0_dp, 16.0_dp, 17.0_dp, 18.0_dp])

  ! ---- values running out: literals and X before the next value still count
  call one("(I3,' a',I3,' b')", 'i', i=[1_int64])
  call one("(I3,3X,'x',I3)", 'i', i=[1_int64])
  call one("(I3,5X)", 'i', i=[1_int64])
  call one("(I3,5X,I3,5X)", 'ii', i=[1_int64, 2_int64])
  call one("(A,5X,A)", 'aa', t1='ab', t2='cd')
  call one("(F5.1,'/',/,F5.1)", 'r', r=[1.0_dp])
  call one("(I5,:,' tail')", 'i', i=[1_int64])
  call one("(I5,:,' tail')", 'ii', i=[1_int64, 2_int64])
  call one("(I5,' tail',:)", 'i', i=[1_int64])
  call one("(I3,2(1X,I3,' z'),' end')", 'ii', i=[1_int64, 2_int64])
  call one("(I3,2(1X,I3,' z'),' end')", 'iii', i=[1_int64, 2_int64, 3_int64])
  call one("(3F6.1)", 'rr', r=[1.0_dp, 2.0_dp])
  call one("(I3,3(1X,F10.2,' +/-',F8.2))", 'irrr', i=[4_int64], r=[1.0_dp, 2.0_dp, 3.0_dp])
  call one("(I4,3(1X,F10.2,'+/-',F8.2)/25X,F11.2,'+/-',F8.2)", 'irrrrrr', i=[4_int64], &
      r=[1.0_dp, 2.0_dp, 3.0_dp, 4.0_dp, 5.0_dp, 6.0_dp])
  call one("(F5.1,2X)", 'r', r=[1.0_dp])

  ! ---- slashes and empty lines
  call one("(/)", '')
  call one("()", '')
  call one("(//I3//)", 'i', i=[7_int64])
  call one("(I3/I3)", 'ii', i=[1_int64, 2_int64])
  call one("(I3,2/,I3)", 'ii', i=[1_int64, 2_int64])
  call one("(I5,/)", 'i', i=[1_int64])
  call one("('a'/'b'//'c')", '')
  call one("(5X/5X,'x')", '')

  ! ---- repeat counts and groups
  call one("(3I4)", 'iii', i=[1_int64, -22_int64, 333_int64])
  call one("(2(I2,1X,F4.1))", 'irir', i=[1_int64, 2_int64], r=[0.5_dp, -0.5_dp])
  call one("(2(2(I2,'-'),'|'))", 'iiii', i=[1_int64, 2_int64, 3_int64, 4_int64])
  call one("(3(1X,F10.2,' +/-',F8.2))", 'rrrrrr', r=[1.0_dp, 2.0_dp, 3.0_dp, 4.0_dp, 5.0_dp, &
      6.0_dp])
  call one("(2(' ab'),I2)", 'i', i=[5_int64])

  ! ---- texts
  call one("(A5)", 'a', t1='abc')
  call one("(A5)", 'a', t1='abcdefgh')
  call one("(A5)", 'a', t1='')
  call one("(A5)", 'a', t1='abcde')
  call one("(A6)", 'a', t1='ab  ')
  call one("(A)", 'a', t1='hello world')
  call one("(A)", 'a', t1='')
  call one("(A,A)", 'aa', t1='one ', t2=' two')
  call one("(A1,A2)", 'aa', t1='xyz', t2='xyz')
  call one("(' [',A,'] ',I3)", 'ai', t1='k', i=[5_int64])
  call one("(I3,A4)", 'ia', t1='ok', i=[5_int64])
  call one("(A,F6.2)", 'ar', t1='v=', r=[1.25_dp])

  ! ---- literals, blanks and letter case
  call one("('it''s')", '')
  call one("('a\b',' \T20 ','''')", '')
  call one("('')", '')
  call one("(i3,f6.2,e10.3)", 'irr', i=[5_int64], r=[1.5_dp, 1.5_dp])
  call one("(1pe10.2,2x,a3)", 'ra', r=[3.0_dp], t1='abcd')
  call one("( I 3 , F 6 . 2 )", 'ir', i=[5_int64], r=[1.5_dp])
  call one("(3HabcI2)", 'i', i=[4_int64])
  call one("(  'x'  ,  2X  ,  'y'  )", '')

  ! ---- a sweep of pseudo-random values across magnitudes, and exact binary ties
  call sweep(150)

contains

  ! n cases of single reals: pseudo-random decimals of every magnitude and
  ! binary fractions that sit exactly on a rounding tie, through a cycle of
  ! fixed-point and exponent formats.
  subroutine sweep(n)
    integer, intent(in) :: n
    character(len=12), parameter :: fmts(8) = [character(len=12) :: '(F12.4)', '(1PE10.2)', &
        '(E12.5)', '(F10.2)', '(F8.3)', '(1PE12.5)', '(F7.1)', '(E10.3)']
    integer(int64) :: state
    real(dp) :: x
    integer :: c
    state = 20240607_int64
    do c = 1, n
      state = mod(state * 48271_int64, 2147483647_int64)
      if (mod(c, 3) == 0) then
        ! (2m + 1) / 2^j: a tie for the decimals the formats keep
        x = real(2 * mod(state, 5000_int64) + 1, dp) / 2.0_dp**(1 + mod(c, 5))
      else
        x = real(mod(state, 10000000_int64), dp) * 10.0_dp**(int(mod(state / 7_int64, 22_int64)) - 12)
      end if
      if (mod(state / 3_int64, 2_int64) == 1) x = -x
      call emit(trim(fmts(mod(c, 8) + 1)), 'r', [0_int64], [x], '', '')
    end do
  end subroutine sweep

  ! n cases with values taken in turn from the pools.
  subroutine many(fmt, pat, n)
    character(len=*), intent(in) :: fmt, pat
    integer, intent(in) :: n
    integer(int64) :: iv(20)
    real(dp) :: rv(20)
    integer :: c, k, ni, nr
    do c = 1, n
      ni = 0
      nr = 0
      do k = 1, len(pat)
        if (pat(k:k) == 'i') then
          ni = ni + 1
          iv(ni) = ipool(mod(ioff, nip) + 1)
          ioff = ioff + 1
        else if (pat(k:k) == 'r') then
          nr = nr + 1
          rv(nr) = rpool(mod(roff, nrp) + 1)
          roff = roff + 1
        end if
      end do
      toff = mod(toff, ntp) + 1
      call emit(fmt, pat, iv, rv, tpool(toff)(1:tlen(toff)), '')
    end do
  end subroutine many

  ! One case with the values given.
  subroutine one(fmt, pat, i, r, t1, t2)
    character(len=*), intent(in) :: fmt, pat
    integer(int64), intent(in), optional :: i(:)
    real(dp), intent(in), optional :: r(:)
    character(len=*), intent(in), optional :: t1, t2
    integer(int64) :: iv(20)
    real(dp) :: rv(20)
    iv = 0
    rv = 0
    if (present(i)) iv(1:size(i)) = i
    if (present(r)) rv(1:size(r)) = r
    if (present(t1) .and. present(t2)) then
      call emit(fmt, pat, iv, rv, t1, t2)
    else if (present(t1)) then
      call emit(fmt, pat, iv, rv, t1, '')
    else
      call emit(fmt, pat, iv, rv, '', '')
    end if
  end subroutine one

  subroutine emit(fmt, pat, iv, rv, t1, t2)
    character(len=*), intent(in) :: fmt, pat, t1, t2
    integer(int64), intent(in) :: iv(:)
    real(dp), intent(in) :: rv(:)
    integer :: k, ni, nr, nt
    ni = 0
    nr = 0
    nt = 0
    print '(A)', 'fmt ' // fmt
    do k = 1, len(pat)
      select case (pat(k:k))
      case ('i')
        ni = ni + 1
        print '(A,I0)', 'i ', iv(ni)
      case ('r')
        nr = nr + 1
        print '(A,I0)', 'r ', transfer(rv(nr), 0_int64)
      case ('a')
        nt = nt + 1
        if (nt == 1) then
          print '(3A)', 't|', t1, '|'
        else
          print '(3A)', 't|', t2, '|'
        end if
      end select
    end do
    print '(A)', '='
    select case (pat)
    case ('')
      write (*, fmt)
    case ('a')
      write (*, fmt) t1
    case ('aa')
      write (*, fmt) t1, t2
    case ('ai')
      write (*, fmt) t1, iv(1)
    case ('ia')
      write (*, fmt) iv(1), t1
    case ('ar')
      write (*, fmt) t1, rv(1)
    case ('ra')
      write (*, fmt) rv(1), t1
    case ('ir')
      write (*, fmt) iv(1), rv(1)
    case ('irr')
      write (*, fmt) iv(1), rv(1:2)
    case ('irir')
      write (*, fmt) iv(1), rv(1), iv(2), rv(2)
    case ('irrr')
      write (*, fmt) iv(1), rv(1:3)
    case ('irrirr')
      write (*, fmt) iv(1), rv(1:2), iv(2), rv(3:4)
    case ('iiriir')
      write (*, fmt) iv(1:2), rv(1), iv(3:4), rv(2)
    case ('iiriririr')
      write (*, fmt) iv(1:2), rv(1), iv(3), rv(2), iv(4), rv(3), iv(5), rv(4)
    case ('irrrrrr')
      write (*, fmt) iv(1), rv(1:6)
    case ('irrrrrrrr')
      write (*, fmt) iv(1), rv(1:8)
    case ('rirr')
      write (*, fmt) rv(1), iv(1), rv(2:3)
    case ('rirrirr')
      write (*, fmt) rv(1), iv(1), rv(2:3), iv(2), rv(4:5)
    case ('rirrrrrr')
      write (*, fmt) rv(1), iv(1), rv(2:7)
    case default
      if (verify(pat, 'r') == 0) then
        write (*, fmt) rv(1:len(pat))
      else if (verify(pat, 'i') == 0) then
        write (*, fmt) iv(1:len(pat))
      else if (pat(1:1) == 'i' .and. verify(pat(2:), 'r') == 0) then
        write (*, fmt) iv(1), rv(1:len(pat) - 1)
      else
        error stop 'no WRITE for this pattern of values'
      end if
    end select
    print '(A)', '@@end@@'
  end subroutine emit

end program gen_vectors
